#include "ui/maindialogform.h"

#include "ui/maindialogui.h"

namespace MainDialogForm {

void setUp(QDialog *dialog)
{
    // The generated class holds only pointers to what it created; the dialog owns the widgets.
    MainDialogUi ui;
    ui.setupUi(dialog);
}

} // namespace MainDialogForm
