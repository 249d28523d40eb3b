#pragma once

class QDialog;

namespace MainDialogForm {

// Builds the settings window's form (maindialog.ui) on `dialog`: its widgets and layouts
// become children of the dialog, reachable by object name. The class generated from the
// form stays inside this library.
void setUp(QDialog *dialog);

} // namespace MainDialogForm
