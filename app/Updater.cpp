// The Updater program: placed in the client's installation folder and started there.
#include "Application.h"
#include "Skin.h"
#include "frm_MainWindow.h"

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Korvanta Updater"));
  korvanta::platform::qt::ApplySkin(app);

  Tform_MainWindow form_MainWindow;
  app.setMainForm(&form_MainWindow);
  form_MainWindow.show();
  const int code = app.exec();
  app.setMainForm(nullptr);
  return code;
}
