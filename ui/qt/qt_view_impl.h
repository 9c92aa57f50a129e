// qt_view_impl.h: the inside of QtView, shared by the files that build the widgets and keep them in step.
#pragma once
#include "ui/qt/qt_view.h"
#include "ui/qt/qt_view_accessible.h"
#include "ui/qt/qt_view_help.h"
#include "ui/qt/qt_view_looks.h"
#include "ui/qt/qt_view_text.h"
#include "ui/qt/qt_view_widgets.h"

#include <QPoint>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class QTimer;

namespace zentrel::ui {

// Runs one of the logic's handlers: nothing it throws may reach the event loop.
void runHandler(const std::function<void()> &handler) noexcept;

// The view's state: one View per element, the syncs waiting, where the
// window was put. Built in qt_view_build.cpp, kept in step in qt_view.cpp.
class QtView::Impl : public ElementObserver
{
public:
    explicit Impl(ZentrelFRM &form);
    ~Impl() override;

    void elementChanged(Element &element) override;
    void elementRefresh(Element &element) override;

    void show();
    void showHelp() { m_help.open(m_form.helpFile()); }
    QWidget *widget() { return &m_window; }

private:
    struct View {
        Element *element = nullptr;
        QWidget *widget = nullptr;          // null for a timer
        QTimer *timer = nullptr;            // timers only
        TextPanel *text = nullptr;          // text boxes only; it is the widget
        bool queued = false;                // waiting for the next sync
        bool ticking = false;
        // Lamps only: the state their accessible description was made for.
        bool described = false;
        Colour describedColour = 0;
        bool describedVisible = false;
    };

    View &add(Element &element, QWidget *widget);
    void create(Element &element);
    QWidget *createLabel(Label &label, QWidget *parent);
    QWidget *createTextBox(View &view, QWidget *parent);
    QWidget *createButton(Button &button, QWidget *parent);
    QWidget *createPicture(PictureBox &box, QWidget *parent);
    void createTimer(View &view, Timer &timer);
    void wireWindow();

    void armSync();
    void syncPending() noexcept;
    void sync(View &view);
    void syncWindow();
    void syncTimer(View &view);
    void describeLamp(View &view, const Lamp &lamp);
    void windowMoved();
    void unload();

    ZentrelFRM &m_form;
    const TwipScale m_scale;
    FormWidget m_window;
    HelpViewer m_help;
    std::vector<std::unique_ptr<View>> m_views;
    std::unordered_map<const Element *, View *> m_byElement;
    std::vector<View *> m_pending;
    bool m_syncArmed = false;
    QTimer *m_syncTimer = nullptr;   // zero-interval, single shot: one sync per pass

    // Where the window was last put, and the model's edges it was put from: a
    // move to anywhere else is the operator's (or the window manager's).
    bool m_placed = false;
    QPoint m_placedAt;
    float m_placedLeft = 0;
    float m_placedTop = 0;
};

} // namespace zentrel::ui
