#include "app/installer_form_win32.h"

#include "app/application_win32.h"

// Until the installer window exists there is nothing to offer: end the run.
void createInstallerForm(PreparingWindow&) { Application::instance().terminate(); }
