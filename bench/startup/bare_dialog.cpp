// The yardstick of the start-up benchmark: the least a Qt widget program does, one empty
// dialog shown. Built with the same Qt as Kavri. With --raster-only it also asks for raster-only
// widget surfaces, as Kavri does, which keeps Qt from loading the GL stack: the like-for-like
// yardstick.
#include <QApplication>
#include <QDialog>

#include <cstring>

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--raster-only") == 0)
        QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.show();
    return app.exec();
}
