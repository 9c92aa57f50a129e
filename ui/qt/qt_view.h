// qt_view.h: the Qt widgets that show ZentrelFRM and feed the operator's clicks back.
#pragma once
#include "ui/window_model.h"

#include <memory>

class QWidget;

namespace zentrel::ui {

// Observes every element of the window: a change is shown on the view's next
// pass of the event loop, however many changes came before it; a refresh is
// shown and painted at once. Clicks, Timer1's ticks, the close box and the
// window's moves go back to the model. Nothing the handlers read lives here.
class QtView
{
public:
    // Builds the window and its widgets from the model's current properties;
    // nothing is shown yet.
    explicit QtView(ZentrelFRM &form);
    ~QtView();
    QtView(const QtView &) = delete;
    QtView &operator=(const QtView &) = delete;

    // Shows whatever start-up changed, then the window.
    void show();
    QWidget *widget() const;
    // F1: the help file start-up registered, or Zentrel's own guide.
    void showHelp();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace zentrel::ui
