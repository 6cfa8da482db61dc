// TOpenDialog and TSaveDialog (dialogs.h).
#include "gui/dialogs.h"

#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <cctype>
#include <cstdlib>

#include "gui/forms.h"
#include "gui_p.h"
#include "win32/diagnostics.h"

using namespace tarvo_gui;

namespace {

constexpr TEnumNames<TOpenOption> kOpenOptions = {
    {"ofReadOnly", ofReadOnly},
    {"ofOverwritePrompt", ofOverwritePrompt},
    {"ofHideReadOnly", ofHideReadOnly},
    {"ofNoChangeDir", ofNoChangeDir},
    {"ofShowHelp", ofShowHelp},
    {"ofNoValidate", ofNoValidate},
    {"ofAllowMultiSelect", ofAllowMultiSelect},
    {"ofExtensionDifferent", ofExtensionDifferent},
    {"ofPathMustExist", ofPathMustExist},
    {"ofFileMustExist", ofFileMustExist},
    {"ofCreatePrompt", ofCreatePrompt},
    {"ofShareAware", ofShareAware},
    {"ofNoReadOnlyReturn", ofNoReadOnlyReturn},
    {"ofNoTestFileCreate", ofNoTestFileCreate},
    {"ofNoNetworkButton", ofNoNetworkButton},
    {"ofNoLongNames", ofNoLongNames},
    {"ofOldStyleDialog", ofOldStyleDialog},
    {"ofNoDereferenceLinks", ofNoDereferenceLinks},
    {"ofEnableIncludeNotify", ofEnableIncludeNotify},
    {"ofEnableSizing", ofEnableSizing},
};

// "description|pattern|..." as Qt's name filters "description (pattern pattern)".
QStringList NameFilters(const std::string& filter) {
  QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList result;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    QString patterns = parts[i + 1];
    QString qtPatterns = QString(patterns).replace(QLatin1Char(';'), QLatin1Char(' '));
    // A description that already shows its patterns in parentheses keeps them as Qt's pattern list.
    QString shown = QStringLiteral("(") + patterns + QStringLiteral(")");
    if (description.endsWith(shown))
      result << description.left(description.size() - shown.size()) + QStringLiteral("(") + qtPatterns + QStringLiteral(")");
    else
      result << description + QStringLiteral(" (") + qtPatterns + QStringLiteral(")");
  }
  return result;
}

std::string WithDefaultExt(const std::string& path, const std::string& ext) {
  if (ext.empty()) return path;
  std::string base = path.substr(path.find_last_of('/') + 1);
  if (base.empty() || base.find('.') != std::string::npos) return path;
  return path + "." + ext;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

TARVO_PUBLISH(TOpenDialog, TComponent) {
  b.Property("FileName", &TOpenDialog::FileName, &TOpenDialog::SetFileName)
      .Property("Filter", &TOpenDialog::Filter, &TOpenDialog::SetFilter)
      .Property("FilterIndex", &TOpenDialog::FilterIndex, &TOpenDialog::SetFilterIndex)
      .Property("DefaultExt", &TOpenDialog::DefaultExt, &TOpenDialog::SetDefaultExt)
      .Property("InitialDir", &TOpenDialog::InitialDir, &TOpenDialog::SetInitialDir)
      .Property("Title", &TOpenDialog::Title, &TOpenDialog::SetTitle)
      .Set<TOpenOption>("Options", &TOpenDialog::Options, &TOpenDialog::SetOptions, kOpenOptions);
}

TARVO_PUBLISH(TSaveDialog, TOpenDialog) {}

TOpenDialog::TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}
TSaveDialog::TSaveDialog(TComponent* AOwner) : TOpenDialog(AOwner) {}

bool TOpenDialog::Execute() { return DoExecute(false); }
bool TSaveDialog::Execute() { return DoExecute(true); }

bool TOpenDialog::DoExecute(bool save) {
  const std::string title = !FTitle.empty() ? FTitle : save ? "Save As" : "Open";
  auto why = [&](const std::string& path) -> std::string {
    std::string dir = path.substr(0, path.find_last_of('/') + 1);
    if (HasOption(ofPathMustExist) && !IsDirectory(dir.empty() ? "." : dir)) return "the path does not exist";
    if (HasOption(ofFileMustExist) && !IsFile(path)) return "the file does not exist";
    // A named pipe or a device is no file to open: reading it would wait for a peer that may never come.
    if (HasOption(ofFileMustExist) && !IsRegularFile(path)) return "it is not a regular file";
    if (!save && !HasOption(ofFileMustExist) && IsDirectory(path)) return "it is a folder";
    return {};
  };

  if (Unattended()) {
    const char* chosen = std::getenv("TARVO_UNATTENDED_FILE");
    std::string answer = "Cancel";
    bool accepted = false;
    if (chosen != nullptr && *chosen != '\0') {
      std::string path = chosen;
      if (path[0] != '/') {
        std::string base = !FInitialDir.empty() ? FInitialDir : QDir::currentPath().toStdString();
        path = base + "/" + path;
      }
      path = WithDefaultExt(QDir::cleanPath(QString::fromStdString(path)).toStdString(), FDefaultExt);
      std::string reason = why(path);
      if (reason.empty()) {
        accepted = true;
        answer = path;
        if (save && HasOption(ofOverwritePrompt) && IsFile(path)) answer += " (replaces the existing file: Yes)";
        FFileName = path;
      } else {
        answer = "Cancel (" + path + ": " + reason + ")";
      }
    }
    WriteDiagnosticLine(("FileDialog [" + title + "]: " + FFilter + " -> " + answer + "\n").c_str());
    return accepted;
  }

  QWidget* parent = QApplication::activeWindow();
  if (parent == nullptr && Application->MainForm() != nullptr && Application->MainForm()->Widget()->isVisible())
    parent = Application->MainForm()->Widget();
  QFileDialog dialog(parent, QString::fromStdString(title), QString::fromStdString(FInitialDir));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(!save && HasOption(ofFileMustExist) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  QStringList filters = NameFilters(FFilter);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    if (FFilterIndex >= 1 && FFilterIndex <= filters.size()) dialog.selectNameFilter(filters[FFilterIndex - 1]);
  }
  if (!FDefaultExt.empty()) dialog.setDefaultSuffix(QString::fromStdString(FDefaultExt));
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !HasOption(ofOverwritePrompt));
  dialog.setSizeGripEnabled(HasOption(ofEnableSizing));
  if (!FFileName.empty()) dialog.selectFile(QString::fromStdString(FFileName));
  for (;;) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    std::string path = WithDefaultExt(QFileInfo(dialog.selectedFiles().first()).absoluteFilePath().toStdString(), FDefaultExt);
    std::string reason = why(path);
    if (reason.empty()) {
      FFileName = path;
      FFilterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
      if (FFilterIndex < 1) FFilterIndex = 1;
      return true;
    }
    reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
    QMessageBox::warning(&dialog, QString::fromStdString(title), QString::fromStdString(path + "\n" + reason + "."));
  }
}
