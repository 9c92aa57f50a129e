// qt_dialogs.cpp: modal message boxes that wait for the operator, on Qt widgets.
#include "platform/qt/qt_dialogs.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace zentrel::platform {

namespace {

QMessageBox::Icon qtIcon(Dialogs::Icon icon)
{
    switch (icon) {
    case Dialogs::Icon::Critical:
        return QMessageBox::Critical;
    case Dialogs::Icon::Question:
        return QMessageBox::Question;
    case Dialogs::Icon::Exclamation:
        return QMessageBox::Warning;
    case Dialogs::Icon::Information:
        break;
    }
    return QMessageBox::Information;
}

QString dialogText(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

} // namespace

bool QtDialogs::screenless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

Dialogs::Answer QtDialogs::messageBox(const std::string &text, const std::string &title, Icon icon,
                                      Buttons buttons)
{
    if (m_presentation == Presentation::Automatic && screenless()) {
        const bool question = buttons == Buttons::YesNo;
        std::fprintf(stderr, "zentrel: %s: %s%s\n", title.c_str(), text.c_str(),
                     question ? " [no screen to ask on: answered No]" : "");
        std::fflush(stderr);
        return question ? Answer::No : Answer::Ok;
    }
    QMessageBox box(qtIcon(icon), dialogText(title), dialogText(text), QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.setTextFormat(Qt::PlainText);
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    const int pressed = box.exec();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

} // namespace zentrel::platform
