// Message boxes and file dialogs: unattended on standard error, and as real windows with their icons, buttons,
// owners and answers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <thread>

#include "testforms.h"
#include "win32/user.h"

namespace {

// Collects what this process writes to standard error while it lives.
class TStderrCapture {
 public:
  TStderrCapture() {
    std::fflush(stderr);
    FSaved = dup(2);
    FFile = std::tmpfile();
    dup2(fileno(FFile), 2);
  }
  ~TStderrCapture() {
    Text();
    std::fclose(FFile);
    close(FSaved);
  }
  std::string Text() {
    std::fflush(stderr);
    if (FSaved >= 0) {
      dup2(FSaved, 2);
      std::rewind(FFile);
      char buf[4096];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, FFile)) > 0) FText.append(buf, n);
      close(FSaved);
      FSaved = -1;
    }
    return FText;
  }

 private:
  int FSaved = -1;
  std::FILE* FFile = nullptr;
  std::string FText;
};

class TEnv {
 public:
  TEnv(const char* name, const char* value) : FName(name) {
    const char* old = std::getenv(name);
    if (old != nullptr) FOld = old, FHad = true;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~TEnv() {
    if (FHad)
      setenv(FName.c_str(), FOld.c_str(), 1);
    else
      unsetenv(FName.c_str());
  }

 private:
  std::string FName;
  std::string FOld;
  bool FHad = false;
};

// Calls handle with each modal window that appears until it returns true (it then closes it).
void AnswerModal(std::function<bool(QWidget*)> handle) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [timer, handle] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && handle(modal)) timer->deleteLater();
  });
  timer->start(10);
}

QAbstractButton* ButtonOf(QMessageBox* box, QMessageBox::StandardButton which) { return box->button(which); }

std::string TempDir() { return ScratchDir("gui-dialogs"); }

}  // namespace

TEST(Unattended, MessageBoxesWriteCaptionAndTextAndAnswerTheirDefault) {
  TEnv unattended("TARVO_UNATTENDED", "1");
  TStderrCapture err;
  EXPECT_EQ(MessageBoxA(nullptr, "File Exist! Sure to overwrite it?", "Overwrite", MB_YESNOCANCEL | MB_ICONQUESTION),
            IDYES);
  EXPECT_EQ(MessageBoxA(nullptr, "Please give me a file name first!", "filename", MB_OK | MB_ICONINFORMATION), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "two\r\nlines", "网络错误", MB_OK | MB_ICONERROR), IDOK);
  std::string text = err.Text();
  EXPECT_NE(text.find("MessageBox [Overwrite]: File Exist! Sure to overwrite it? -> Yes\n"), std::string::npos) << text;
  EXPECT_NE(text.find("MessageBox [filename]: Please give me a file name first! -> OK\n"), std::string::npos) << text;
  EXPECT_NE(text.find("MessageBox [网络错误]: two lines -> OK\n"), std::string::npos) << text;
}

TEST(Unattended, FileDialogsAnswerWithTheNamedFileOrCancel) {
  TEnv unattended("TARVO_UNATTENDED", "1");
  const std::string dir = TempDir();
  TSaveDialog save(nullptr);
  save.SetFilter("MPEG4文件(*.mp4)|*.mp4");
  save.SetDefaultExt("mp4");
  save.SetInitialDir(dir);
  save.SetOptions(OpenOption(ofOverwritePrompt) | OpenOption(ofHideReadOnly) | OpenOption(ofPathMustExist));
  TOpenDialog open(nullptr);
  open.SetFilter("MPEG4文件(*.mp4)|*.mp4");
  open.SetDefaultExt("mp4");
  open.SetInitialDir(dir);
  open.SetOptions(OpenOption(ofHideReadOnly) | OpenOption(ofPathMustExist) | OpenOption(ofFileMustExist));

  TStderrCapture err;
  {
    TEnv file("TARVO_UNATTENDED_FILE", nullptr);
    EXPECT_FALSE(save.Execute());
    EXPECT_EQ(save.FileName(), "");
  }
  {
    // A relative name is taken from the initial folder and gets the default extension.
    TEnv file("TARVO_UNATTENDED_FILE", "take1");
    EXPECT_TRUE(save.Execute());
    EXPECT_EQ(save.FileName(), dir + "/take1.mp4");
    // An open dialog whose file must exist cancels while it does not.
    EXPECT_FALSE(open.Execute());
    std::ofstream(dir + "/take1.mp4") << "x";
    EXPECT_TRUE(open.Execute());
    EXPECT_EQ(open.FileName(), dir + "/take1.mp4");
    // Saving over it is confirmed, as the overwrite prompt answers by default; the file itself is not touched.
    EXPECT_TRUE(save.Execute());
    EXPECT_EQ(save.FileName(), dir + "/take1.mp4");
  }
  {
    TEnv file("TARVO_UNATTENDED_FILE", (dir + "/no/such/folder/x.mp4").c_str());
    EXPECT_FALSE(save.Execute());
    EXPECT_EQ(save.FileName(), dir + "/take1.mp4");
  }
  std::string text = err.Text();
  EXPECT_NE(text.find("FileDialog [Save As]: MPEG4文件(*.mp4)|*.mp4 -> Cancel\n"), std::string::npos) << text;
  EXPECT_NE(text.find("FileDialog [Save As]: MPEG4文件(*.mp4)|*.mp4 -> " + dir + "/take1.mp4\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("FileDialog [Open]: MPEG4文件(*.mp4)|*.mp4 -> Cancel (" + dir + "/take1.mp4: the file does not exist)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("FileDialog [Open]: MPEG4文件(*.mp4)|*.mp4 -> " + dir + "/take1.mp4\n"), std::string::npos) << text;
  EXPECT_NE(text.find("the path does not exist"), std::string::npos) << text;
  EXPECT_NE(text.find("-> " + dir + "/take1.mp4 (replaces the existing file: Yes)\n"), std::string::npos) << text;
  std::ifstream in(dir + "/take1.mp4");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "x");
}

TEST(MessageBoxPresenter, ShowsIconButtonsOwnerAndReturnsTheAnswer) {
  TTestForm* form = nullptr;
  Application->CreateForm(form);
  form->Show();

  struct TCase {
    UINT Type;
    QMessageBox::Icon Icon;
    QMessageBox::StandardButton Click;
    int Answer;
  };
  const TCase cases[] = {
      {MB_OK | MB_ICONERROR, QMessageBox::Critical, QMessageBox::Ok, IDOK},
      {MB_YESNOCANCEL | MB_ICONQUESTION, QMessageBox::Question, QMessageBox::No, IDNO},
      {MB_YESNOCANCEL | MB_ICONQUESTION, QMessageBox::Question, QMessageBox::Cancel, IDCANCEL},
      {MB_YESNO, QMessageBox::NoIcon, QMessageBox::Yes, IDYES},
      {MB_OK | MB_ICONINFORMATION, QMessageBox::Information, QMessageBox::Ok, IDOK},
  };
  for (const TCase& c : cases) {
    bool seen = false;
    AnswerModal([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr) return false;
      seen = true;
      EXPECT_EQ(box->windowTitle(), QString("Overwrite"));
      EXPECT_EQ(box->text(), QString("File Exist! Sure to overwrite it?"));
      EXPECT_EQ(box->icon(), c.Icon);
      // Owned by the form's window, so it stays above it.
      EXPECT_EQ(box->parentWidget(), form->Widget());
      QAbstractButton* button = ButtonOf(box, c.Click);
      EXPECT_NE(button, nullptr);
      if (button != nullptr) button->click();
      return true;
    });
    EXPECT_EQ(MessageBoxA(form->Handle(), "File Exist! Sure to overwrite it?", "Overwrite", c.Type), c.Answer);
    EXPECT_TRUE(seen);
  }

  // Escape answers Cancel where there is one.
  AnswerModal([](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box == nullptr) return false;
    box->reject();
    return true;
  });
  EXPECT_EQ(MessageBoxA(form->Handle(), "x", "y", MB_YESNOCANCEL), IDCANCEL);

  // A box of another thread is shown by the GUI thread; that thread waits for its answer.
  AnswerModal([](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box == nullptr) return false;
    box->button(QMessageBox::No)->click();
    return true;
  });
  std::atomic<int> answer{0};
  std::thread worker([&] { answer = MessageBoxA(nullptr, "from a thread", "thread", MB_YESNO); });
  EXPECT_TRUE(PumpUntil([&] { return answer.load() != 0; }));
  worker.join();
  EXPECT_EQ(answer.load(), IDNO);
  FreeForm(form);
}

TEST(FileDialog, RealDialogAppendsTheExtensionAndGivesTheFullPath) {
  const std::string dir = TempDir();
  TSaveDialog save(nullptr);
  save.SetFilter("MPEG4文件(*.mp4)|*.mp4");
  save.SetDefaultExt("mp4");
  save.SetInitialDir(dir);
  save.SetOptions(OpenOption(ofOverwritePrompt) | OpenOption(ofHideReadOnly) | OpenOption(ofPathMustExist));
  QStringList filters;
  AnswerModal([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    if (dialog == nullptr) return false;
    filters = dialog->nameFilters();
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(QDir(dialog->directory()).absolutePath().toStdString(), dir);
    dialog->findChild<QLineEdit*>("fileNameEdit")->setText("clip");
    QMetaObject::invokeMethod(dialog, "accept");
    return true;
  });
  ASSERT_TRUE(save.Execute());
  EXPECT_EQ(save.FileName(), dir + "/clip.mp4");
  EXPECT_EQ(filters, QStringList{QString::fromUtf8("MPEG4文件(*.mp4)")});

  AnswerModal([](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    if (dialog == nullptr) return false;
    dialog->reject();
    return true;
  });
  EXPECT_FALSE(save.Execute());
  EXPECT_EQ(save.FileName(), dir + "/clip.mp4");
}

TEST(FileDialog, RealDialogAsksBeforeItReplacesAnExistingFile) {
  const std::string dir = TempDir();
  std::ofstream(dir + "/take.mp4") << "old";
  TSaveDialog save(nullptr);
  save.SetFilter("MPEG4文件(*.mp4)|*.mp4");
  save.SetDefaultExt("mp4");
  save.SetInitialDir(dir);
  save.SetOptions(OpenOption(ofOverwritePrompt) | OpenOption(ofHideReadOnly) | OpenOption(ofPathMustExist));
  // Types the name without its extension and accepts; answers a question with answer; back in the dialog after
  // No, cancels it.
  auto run = [&](QMessageBox::StandardButton answer, bool& asked) {
    asked = false;
    bool typed = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      QWidget* w = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        asked = true;
        EXPECT_NE(box->text().indexOf(QStringLiteral("take.mp4")), -1) << box->text().toStdString();
        box->button(answer)->click();
      } else if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
        if (typed) {
          dialog->reject();
          return;
        }
        typed = true;
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText("take");
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
      }
    });
    timer.start(10);
    return save.Execute();
  };
  bool asked = false;
  EXPECT_FALSE(run(QMessageBox::No, asked));
  EXPECT_TRUE(asked);
  EXPECT_EQ(save.FileName(), "");
  EXPECT_TRUE(run(QMessageBox::Yes, asked));
  EXPECT_TRUE(asked);
  EXPECT_EQ(save.FileName(), dir + "/take.mp4");

  // Without the option it takes the name at once.
  save.SetOptions(OpenOption(ofHideReadOnly));
  save.SetFileName("");
  EXPECT_TRUE(run(QMessageBox::Yes, asked));
  EXPECT_FALSE(asked);
  EXPECT_EQ(save.FileName(), dir + "/take.mp4");
}
