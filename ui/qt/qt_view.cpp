// qt_view.cpp: ZentrelFRM's widgets kept in step with the model, one event-loop pass later.
#include "ui/qt/qt_view_impl.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPalette>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <exception>

namespace zentrel::ui {

namespace {

bool same(float a, float b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

} // namespace

void runHandler(const std::function<void()> &handler) noexcept
{
    if (!handler)
        return;
    try {
        const std::function<void()> call = handler;   // a handler may rebind itself
        call();
    } catch (const std::exception &error) {
        qWarning("Zentrel: an event handler failed: %s", error.what());
    } catch (...) {
        qWarning("Zentrel: an event handler failed");
    }
}

void QtView::Impl::elementChanged(Element &element)
{
    const auto found = m_byElement.find(&element);
    if (found == m_byElement.end() || found->second->queued)
        return;
    found->second->queued = true;
    m_pending.push_back(found->second);
    armSync();
}

void QtView::Impl::armSync()
{
    if (m_syncArmed)
        return;
    m_syncArmed = true;
    m_syncTimer->start();
}

void QtView::Impl::syncPending() noexcept
{
    m_syncArmed = false;
    m_syncTimer->stop();
    std::vector<View *> pending;
    pending.swap(m_pending);
    try {
        for (View *view : pending) {
            view->queued = false;
            view->element->clearChanged();   // a change made while syncing queues it again
            sync(*view);
        }
    } catch (const std::exception &error) {
        qWarning("Zentrel: the window could not be brought up to date: %s", error.what());
    } catch (...) {
        qWarning("Zentrel: the window could not be brought up to date");
    }
}

void QtView::Impl::elementRefresh(Element &element)
{
    if (&element == &m_form && m_form.unloaded()) {
        unload();
        return;
    }
    const auto found = m_byElement.find(&element);
    if (found == m_byElement.end())
        return;
    element.clearChanged();
    sync(*found->second);
    if (QWidget *widget = found->second->widget; widget && widget->isVisible())
        widget->repaint();
}

void QtView::Impl::sync(View &view)
{
    Element &element = *view.element;
    QWidget *widget = view.widget;
    switch (element.kind()) {
    case Kind::Window:
        syncWindow();
        return;
    case Kind::Timer:
        syncTimer(view);
        return;
    case Kind::Label: {
        const std::string &caption = static_cast<Label &>(element).caption();
        static_cast<QLabel *>(widget)->setText(latin1(caption));
        if (&element == &m_form.LBL_titre)
            widget->setAutoFillBackground(!caption.empty());
        break;
    }
    case Kind::TextBox:
        // A hidden text box catches up when it is shown again.
        if (element.visible())
            view.text->follow(static_cast<TextBox &>(element));
        break;
    case Kind::Button:
        widget->setEnabled(static_cast<Button &>(element).enabled());
        break;
    case Kind::Lamp: {
        QPalette palette = widget->palette();
        const QColor colour = toQColor(static_cast<Lamp &>(element).backColour(), palette);
        if (palette.color(QPalette::Window) != colour) {
            palette.setColor(QPalette::Window, colour);
            widget->setPalette(palette);
        }
        describeLamp(view, static_cast<Lamp &>(element));
        break;
    }
    default:
        break;
    }
    widget->setVisible(element.visible());
}

void QtView::Impl::syncWindow()
{
    m_window.setWindowTitle(latin1(m_form.caption()));
    // The model's height is the outer one; the window manager adds its own frame.
    const int width = m_scale.px(m_form.geometry().width);
    const int height = std::max(1, m_scale.edge(double(m_form.height()) - FrameAllowance));
    if (m_window.size() != QSize(width, height))
        m_window.setFixedSize(width, height);

    if (!m_placed || !same(m_form.left(), m_placedLeft) || !same(m_form.top(), m_placedTop)) {
        m_placed = true;
        m_placedLeft = m_form.left();
        m_placedTop = m_form.top();
        m_placedAt = QPoint(m_scale.edge(m_form.left()), m_scale.edge(m_form.top()));
        m_window.move(m_placedAt);
    }

    if (m_form.topmost() && !m_window.windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        const bool shown = m_window.isVisible();
        m_window.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        if (shown)
            m_window.show();   // changing the flags hides a shown window
    }
}

// A screen reader hears what the lamp means now. The words are worked out
// only when the colour or the visibility moved, and the description is set
// (which tells the screen reader) only when the meaning changed: the alarm's
// red and black blinking is one meaning.
void QtView::Impl::describeLamp(View &view, const Lamp &lamp)
{
    if (view.described && view.describedColour == lamp.backColour()
        && view.describedVisible == lamp.visible())
        return;
    view.described = true;
    view.describedColour = lamp.backColour();
    view.describedVisible = lamp.visible();
    const QString description = lampDescription(lamp);
    if (view.widget->accessibleDescription() != description)
        view.widget->setAccessibleDescription(description);
}

void QtView::Impl::syncTimer(View &view)
{
    const auto &timer = static_cast<const Timer &>(*view.element);
    if (m_form.unloaded() || !timer.enabled() || timer.interval() <= 0) {
        view.timer->stop();
        return;
    }
    if (!view.timer->isActive() || view.timer->interval() != timer.interval())
        view.timer->start(timer.interval());
}

void QtView::Impl::windowMoved()
{
    if (m_form.unloaded() || !m_placed)
        return;
    const QPoint at = m_window.pos();
    if (at == m_placedAt)
        return;
    m_form.viewMoved(m_scale.twips(at.x()), m_scale.twips(at.y()));
    m_placedAt = at;
    m_placedLeft = m_form.left();
    m_placedTop = m_form.top();
}

void QtView::Impl::unload()
{
    for (auto &view : m_views)
        if (view->timer)
            view->timer->stop();
    m_help.hide();
    m_window.hide();
    // Ends the main loop once every handler running in a nested pass has returned.
    QCoreApplication::quit();
}

void QtView::Impl::show()
{
    if (m_form.unloaded())
        return;
    syncPending();
    // The first element in the focus order that can take the focus has it.
    for (const Element *element : m_form.focusOrder()) {
        QWidget *widget = m_byElement.at(element)->widget;
        if (element->visible() && widget->isEnabled()) {
            widget->setFocus(Qt::OtherFocusReason);
            break;
        }
    }
    m_window.show();
}

QtView::QtView(ZentrelFRM &form) : m_impl(std::make_unique<Impl>(form)) {}
QtView::~QtView() = default;
void QtView::show() { m_impl->show(); }
QWidget *QtView::widget() const { return m_impl->widget(); }
void QtView::showHelp() { m_impl->showHelp(); }

} // namespace zentrel::ui
