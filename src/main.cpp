#include "frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brimlark_Simple"));
    TForm1 form;
    form.show();
    return app.exec();
}
