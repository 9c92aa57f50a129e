// qt_view_help.h: what F1 opens, the registered help file or Zentrel's own guide.
#pragma once
#include <QPointer>
#include <QString>

#include <string>

class QTextBrowser;
class QWidget;

namespace zentrel::ui {

class HelpViewer
{
public:
    // The guide's window belongs to the owner and closes with it.
    explicit HelpViewer(QWidget *owner);
    ~HelpViewer();

    // Opens the help file (a bare name, looked up in the current directory)
    // with the desktop's viewer; without the file or a viewer, shows the guide.
    void open(const std::string &helpFile);
    void showGuide();
    void hide();

    // The guide's window once it has been shown, else null.
    QTextBrowser *guide() const;

private:
    QWidget *m_owner;
    QPointer<QTextBrowser> m_guide;
};

// The help file in the current directory, matched without regard to case as
// the operator's other files are; empty when there is none.
QString findHelpFile(const std::string &helpFile);

} // namespace zentrel::ui
