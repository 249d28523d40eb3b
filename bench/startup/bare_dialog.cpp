// The yardstick of the start-up benchmark: the least a Qt 5 widget program does, one empty
// dialog shown.
#include <QApplication>
#include <QDialog>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.show();
    return app.exec();
}
