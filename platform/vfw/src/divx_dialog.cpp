// The DIVX codec's configuration dialog: the bit-rate ceiling and the quality, for the rest of the process.
// It runs on the GUI thread while capture may go on; it reads the settings when it opens and writes them
// when accepted, holding no lock in between.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <string>

#include "dialogs.h"
#include "divx.h"

namespace {

const char* const kCaption = "DIVX codec";

std::string Describe(const TDivxSettings& s) {
  std::string rate = s.BitRate > 0 ? std::to_string(s.BitRate) + " kbit/s" : "no ceiling";
  return "bit rate " + rate + ", quality " + std::to_string(s.Quality);
}

}  // namespace

bool DivxConfigureDialog(HWND parent) {
  (void)parent;  // the dialog is application-modal, centred on the screen
  TDivxSettings settings = TDivxSettings::Current();
  if (Unattended()) {
    ReportUnattendedDialog(kCaption, Describe(settings));
    return true;
  }
  if (!CanShowDialog(kCaption)) return false;

  QDialog dialog;
  dialog.setWindowTitle(kCaption);
  dialog.setModal(true);
  auto* form = new QFormLayout;

  auto* rate = new QSpinBox;
  rate->setRange(kDivxMinBitRate, kDivxMaxBitRate);
  rate->setSingleStep(100);
  rate->setSuffix(" kbit/s");
  rate->setSpecialValueText("no ceiling");
  rate->setValue(settings.BitRate);
  form->addRow("Bit rate at most:", rate);

  auto* quality = new QSlider(Qt::Horizontal);
  quality->setRange(1, 100);
  quality->setValue(settings.Quality);
  auto* qualityValue = new QLabel(QString::number(settings.Quality));
  qualityValue->setMinimumWidth(qualityValue->fontMetrics().horizontalAdvance("100"));
  QObject::connect(quality, &QSlider::valueChanged, qualityValue,
                   [qualityValue](int v) { qualityValue->setText(QString::number(v)); });
  auto* qualityRow = new QHBoxLayout;
  qualityRow->addWidget(quality);
  qualityRow->addWidget(qualityValue);
  form->addRow("Quality:", qualityRow);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(buttons);

  if (dialog.exec() == QDialog::Accepted) {
    TDivxSettings chosen;
    chosen.BitRate = rate->value();
    chosen.Quality = quality->value();
    if (chosen.BitRate != settings.BitRate || chosen.Quality != settings.Quality) TDivxSettings::SetCurrent(chosen);
  }
  return true;
}
