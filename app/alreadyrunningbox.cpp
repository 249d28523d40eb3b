#include "app/alreadyrunningbox.h"

#include <QMessageBox>

namespace AlreadyRunningBox {

void show()
{
    QMessageBox::information(nullptr, QStringLiteral("Warning"),
                             QStringLiteral("Program hasbeen running!"), QMessageBox::Ok,
                             QMessageBox::NoButton);
}

} // namespace AlreadyRunningBox
