// qt_view.cpp: placeholder until the view lands.
#include "platform/qt/qt_view.h"

#include <QWidget>

namespace zentrel::platform {

class QtView::Impl
{
public:
    QWidget window;
};

QtView::QtView(ui::ZentrelFRM &) : m_impl(std::make_unique<Impl>()) {}
QtView::~QtView() = default;
void QtView::show() { m_impl->window.show(); }
QWidget *QtView::widget() const { return &m_impl->window; }

} // namespace zentrel::platform
