// qt_view_widgets.h: the top-level window and the clickable labels and pictures of the view.
#pragma once
#include <QLabel>
#include <QWidget>

#include <functional>

namespace zentrel::ui {

// The window ZentrelFRM: reports the close box, moves and minimizing.
class FormWidget : public QWidget
{
public:
    FormWidget();

    std::function<void()> closeRequested;   // the close box, or the system closing it
    std::function<void()> moved;
    std::function<void()> stateChanged;     // minimized, restored

protected:
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void changeEvent(QEvent *event) override;
};

// A label or picture box that takes its own clicks (left button pressed and
// released over it) and never passes a click on to what lies beneath.
class ClickLabel : public QLabel
{
public:
    explicit ClickLabel(QWidget *parent);

    std::function<void()> clicked;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
};

} // namespace zentrel::ui
