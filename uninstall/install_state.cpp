#include "uninstall/install_state.h"

// Until the inventory exists, nothing counts as installed.
InstallState ProbeInstallState() { return InstallState::kNotInstalled; }
