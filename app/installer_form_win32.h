// The installer window.  Creating it runs the whole start-up sequence, which
// may already install, report a failure and request termination.
#pragma once

class PreparingWindow;

void createInstallerForm(PreparingWindow& preparing);
