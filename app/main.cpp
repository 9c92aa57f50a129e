// main.cpp: builds the window, the Qt platform and the handlers, then runs the event loop.
#include "app/application.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/qt_view.h"
#include "ui/window_model.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication qtApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);   // the window's unload ends the program

    zentrel::platform::QtPlatform qtPlatform;
    zentrel::ui::ZentrelFRM form;
    zentrel::platform::QtView view(form);
    zentrel::app::Application application(form, qtPlatform.platform());

    application.load();
    if (form.unloaded())
        return 0;
    view.show();
    return qtApplication.exec();
}
