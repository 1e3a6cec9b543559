// The About box.
#include "app/dialogs/about_form.h"

#include <QLabel>

#include "app/app_texts.h"
#include "app/main_form.h"

namespace kalvrin {

TAboutForm::TAboutForm(TMainForm& mainForm)
    : QDialog(&mainForm, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setObjectName("AboutForm");
  setWindowTitle(app_text::kAboutCaption);
  setFixedSize(181, 80);
  move(587, 341);
  setModal(false);

  Label1 = new QLabel(app_text::kAboutName, this);
  Label1->setObjectName("Label1");
  QFont big = font();
  big.setBold(true);
  big.setPixelSize(31);
  Label1->setFont(big);
  Label1->setGeometry(8, 8, 160, 37);

  labVer = new QLabel(this);
  labVer->setObjectName("labVer");
  labVer->move(8, 48);

  labQUORVEL = new QLabel(app_text::kMakerAddress, this);
  labQUORVEL->setObjectName("labQUORVEL");
  QPalette grey = labQUORVEL->palette();
  grey.setColor(QPalette::WindowText, QColor(128, 128, 128));
  labQUORVEL->setPalette(grey);
  labQUORVEL->move(88, 48);
  labQUORVEL->adjustSize();

  FormCreate(mainForm);
}

// The version line is made once; it does not follow later changes.
void TAboutForm::FormCreate(const TMainForm& mainForm) {
  labVer->setText(app_text::kAboutVersion + mainForm.VersionText);
  labVer->adjustSize();
}

}  // namespace kalvrin
