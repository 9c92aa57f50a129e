// qt_view.h: the Qt widgets that show ZentrelFRM and feed the operator's clicks back.
#pragma once
#include "ui/window_model.h"

#include <memory>

class QWidget;

namespace zentrel::platform {

class QtView
{
public:
    // Builds the window and its widgets from the model's initial properties;
    // nothing is shown yet.
    explicit QtView(ui::ZentrelFRM &form);
    ~QtView();

    void show();
    QWidget *widget() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace zentrel::platform
