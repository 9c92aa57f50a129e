// qt_view_widgets.cpp: the top-level window and the clickable labels and pictures of the view.
#include "ui/qt/qt_view_widgets.h"

#include <QCloseEvent>
#include <QMouseEvent>

namespace zentrel::ui {

FormWidget::FormWidget()
{
    setObjectName(QStringLiteral("ZentrelFRM"));
    // A fixed-size window: the window manager is asked for no maximize button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
}

void FormWidget::closeEvent(QCloseEvent *event)
{
    // The unload cannot be refused: the window always closes.
    if (closeRequested)
        closeRequested();
    event->accept();
}

void FormWidget::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (moved)
        moved();
}

void FormWidget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && stateChanged)
        stateChanged();
}

ClickLabel::ClickLabel(QWidget *parent) : QLabel(parent)
{
    setAttribute(Qt::WA_NoMousePropagation);
}

void ClickLabel::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void ClickLabel::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    const bool click = m_pressed && event->button() == Qt::LeftButton
                       && rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click && clicked)
        clicked();
}

} // namespace zentrel::ui
