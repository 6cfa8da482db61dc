// The capture driver's three modal dialogs (Qt): source (device and input), format (size and depth) and
// display (the live picture). They edit plain values; the capture window applies what was accepted.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSize>
#include <QVariant>
#include <QVBoxLayout>
#include <utility>

#include "capture_window.h"

namespace {

// A dialog with a form and OK/Cancel; returns whether OK was chosen.
bool RunForm(const char* caption, QFormLayout* form, QDialog& dialog) {
  dialog.setWindowTitle(caption);
  dialog.setModal(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(buttons);
  return dialog.exec() == QDialog::Accepted;
}

const std::pair<int, int> kSizes[] = {{160, 120}, {176, 144}, {320, 240}, {352, 288},
                                      {640, 480}, {704, 576}, {800, 600}, {1280, 720}};

}  // namespace

bool RunSourceDialog(TSourceChoice& choice) {
  QDialog dialog;
  auto* form = new QFormLayout;
  auto* device = new QComboBox;
  for (auto& d : choice.Devices) device->addItem(QString::fromStdString(d));
  device->setCurrentIndex(choice.Device);
  form->addRow("Device:", device);
  auto* input = new QComboBox;
  for (auto& i : choice.Inputs) input->addItem(QString::fromStdString(i));
  input->setCurrentIndex(choice.Input);
  form->addRow("Input:", input);
  // The inputs listed are the connected device's; another device starts on its first input.
  const int connected = choice.Device;
  QObject::connect(device, &QComboBox::currentIndexChanged, input,
                   [input, connected](int index) { input->setEnabled(index == connected); });
  if (!RunForm("Video Source", form, dialog)) return false;
  choice.Device = device->currentIndex();
  choice.Input = choice.Device == connected ? input->currentIndex() : 0;
  return true;
}

bool RunFormatDialog(TVideoFormat& format) {
  QDialog dialog;
  auto* form = new QFormLayout;
  auto* size = new QComboBox;
  bool listed = false;
  for (auto& [w, h] : kSizes) {
    size->addItem(QString("%1 x %2").arg(w).arg(h), QVariant::fromValue(QSize(w, h)));
    if (w == format.Width && h == format.Height) {
      size->setCurrentIndex(size->count() - 1);
      listed = true;
    }
  }
  if (!listed) {
    size->addItem(QString("%1 x %2").arg(format.Width).arg(format.Height),
                  QVariant::fromValue(QSize(format.Width, format.Height)));
    size->setCurrentIndex(size->count() - 1);
  }
  form->addRow("Size:", size);
  auto* depth = new QComboBox;
  depth->addItem("24 bits (RGB)", 24);
  depth->addItem("32 bits (RGB and a pad byte)", 32);
  depth->setCurrentIndex(format.BitCount == 32 ? 1 : 0);
  form->addRow("Depth:", depth);
  if (!RunForm("Video Format", form, dialog)) return false;
  QSize chosen = size->currentData().toSize();
  format.Width = chosen.width();
  format.Height = chosen.height();
  format.BitCount = depth->currentData().toInt();
  return true;
}

bool RunDisplayDialog(bool& overlay) {
  QDialog dialog;
  auto* form = new QFormLayout;
  auto* show = new QCheckBox("Show the live picture in the capture window");
  show->setChecked(overlay);
  form->addRow(show);
  if (!RunForm("Video Display", form, dialog)) return false;
  overlay = show->isChecked();
  return true;
}
