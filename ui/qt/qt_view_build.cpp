// qt_view_build.cpp: ZentrelFRM's widgets made from the model's elements, and the events they send back.
#include "ui/qt/qt_view_impl.h"

#include <QFrame>
#include <QIcon>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

// The pictures, the icon and the guide live in a static library: nothing
// would pull their resource registration in without this call.
static void registerResources()
{
    Q_INIT_RESOURCE(zentrel);
}

namespace zentrel::ui {

namespace {

// Picture boxes have a sunken border this wide; what they hold sits inside it.
constexpr int PictureBorder = 2;

} // namespace

QtView::Impl::Impl(ZentrelFRM &form)
    : m_form(form), m_scale(TwipScale::ofScreen()), m_help(&m_window)
{
    registerResources();
    // A zero timer rather than a queued call: arming it wakes nothing, so a
    // busy connection loop pays no extra wake-up for the window's update.
    m_syncTimer = new QTimer(&m_window);
    m_syncTimer->setSingleShot(true);
    m_syncTimer->setInterval(0);
    QObject::connect(m_syncTimer, &QTimer::timeout, &m_window, [this] { syncPending(); });
    m_window.setFont(windowFont());
    m_window.setWindowIcon(QIcon(picturePath(m_form.icon())));
    // The window's accessible name is its caption, version included.
    m_window.setAccessibleDescription(accessibleText(m_form).description);
    add(m_form, &m_window);
    for (Element *element : m_form.elements())
        create(*element);
    m_byElement.at(&m_form.TXT_Input)->widget->raise();   // covers TXT_OutPut
    // The title shares its place with the program name, which is shown with
    // it during the port alarm: on a band of its own, above the name, a title
    // stays readable. The band is painted only while there is a title to show.
    QWidget *title = m_byElement.at(&m_form.LBL_titre)->widget;
    QPalette band = title->palette();
    band.setColor(QPalette::Window, band.color(QPalette::Highlight));
    title->setPalette(band);
    title->raise();

    QWidget *previous = nullptr;
    for (const Element *element : m_form.focusOrder()) {
        QWidget *next = m_byElement.at(element)->widget;
        if (previous)
            QWidget::setTabOrder(previous, next);
        previous = next;
    }
    wireWindow();

    for (auto &view : m_views) {
        view->element->clearChanged();
        sync(*view);
        view->element->setObserver(this);
    }
}

QtView::Impl::~Impl()
{
    for (auto &view : m_views)
        view->element->setObserver(nullptr);
}

QtView::Impl::View &QtView::Impl::add(Element &element, QWidget *widget)
{
    auto view = std::make_unique<View>();
    view->element = &element;
    view->widget = widget;
    m_byElement[&element] = view.get();
    m_views.push_back(std::move(view));
    return *m_views.back();
}

void QtView::Impl::create(Element &element)
{
    Element *container = element.container();
    QWidget *parent = container ? m_byElement.at(container)->widget : &m_window;
    QPoint origin;
    if (container && container->kind() == Kind::PictureBox)
        origin = QPoint(PictureBorder, PictureBorder);

    View &view = add(element, nullptr);
    if (element.kind() == Kind::Timer) {
        createTimer(view, static_cast<Timer &>(element));
        return;
    }
    QWidget *widget = nullptr;
    switch (element.kind()) {
    case Kind::Label:
        widget = createLabel(static_cast<Label &>(element), parent);
        break;
    case Kind::TextBox:
        widget = createTextBox(view, parent);
        break;
    case Kind::Button:
        widget = createButton(static_cast<Button &>(element), parent);
        break;
    case Kind::Lamp: {
        auto *lamp = new QFrame(parent);
        lamp->setFrameShape(QFrame::NoFrame);
        lamp->setAutoFillBackground(true);
        widget = lamp;
        break;
    }
    case Kind::PictureBox:
        widget = createPicture(static_cast<PictureBox &>(element), parent);
        break;
    default: {
        auto *frame = new QFrame(parent);
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        frame->setAutoFillBackground(true);
        widget = frame;
        break;
    }
    }
    view.widget = widget;
    widget->setObjectName(QString::fromStdString(element.name()));
    // A lamp's description comes with its first sync.
    const AccessibleText text = accessibleText(element);
    if (!text.name.isEmpty())
        widget->setAccessibleName(text.name);
    if (!text.description.isEmpty())
        widget->setAccessibleDescription(text.description);
    // A click belongs to the element under the pointer, never to its container.
    widget->setAttribute(Qt::WA_NoMousePropagation);
    widget->setGeometry(m_scale.rect(element.geometry()).translated(origin));
    if (element.kind() == Kind::PictureBox) {
        auto *label = static_cast<QLabel *>(widget);
        const qreal ratio = label->devicePixelRatioF();
        const QPixmap pixmap = fitPicture(
            picture(static_cast<PictureBox &>(element).picture()), m_scale, ratio);
        // Clipped to the box, as a picture larger than its box is; the clip
        // is in the pixmap's device pixels.
        const QSize box = (QSizeF(label->contentsRect().size()) * ratio).toSize();
        QPixmap clipped = pixmap.copy(QRect(QPoint(), box).intersected(pixmap.rect()));
        clipped.setDevicePixelRatio(ratio);
        label->setPixmap(clipped);
    }
}

QWidget *QtView::Impl::createLabel(Label &label, QWidget *parent)
{
    auto *widget = new ClickLabel(parent);
    widget->setTextFormat(Qt::PlainText);   // a caption is shown as it is, never as markup
    widget->setWordWrap(true);
    widget->setAlignment((label.centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
    widget->setFont(toQFont(label.font, m_window.font()));
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, toQColor(label.foreColour, palette));
    widget->setPalette(palette);
    widget->clicked = [this, &label] {
        if (!m_form.unloaded() && label.visible())
            runHandler(label.onClick);
    };
    return widget;
}

QWidget *QtView::Impl::createTextBox(View &view, QWidget *parent)
{
    // The handlers never read what the operator types, so the operator reads,
    // selects and scrolls, and types nothing.
    auto *panel = new TextPanel(parent);
    panel->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    panel->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    panel->setFont(textBoxFont());
    view.text = panel;
    return panel;
}

QWidget *QtView::Impl::createButton(Button &button, QWidget *parent)
{
    // The caption's ampersand makes Alt + letter press the button.
    auto *widget = new QPushButton(latin1(button.caption()), parent);
    widget->setAutoDefault(false);
    QObject::connect(widget, &QPushButton::clicked, &m_window, [this, &button] {
        if (!m_form.unloaded() && button.enabled())
            runHandler(button.onClick);
    });
    return widget;
}

QWidget *QtView::Impl::createPicture(PictureBox &box, QWidget *parent)
{
    auto *widget = new ClickLabel(parent);
    widget->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    widget->setLineWidth(PictureBorder);
    widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    widget->setFocusPolicy(Qt::StrongFocus);
    widget->clicked = [this, &box] {
        if (!m_form.unloaded() && box.visible())
            runHandler(box.onClick);
    };
    return widget;
}

void QtView::Impl::createTimer(View &view, Timer &timer)
{
    view.timer = new QTimer(&m_window);
    QObject::connect(view.timer, &QTimer::timeout, &m_window, [this, &view, &timer] {
        // A tick never runs inside another tick of the same timer.
        if (view.ticking || m_form.unloaded() || !timer.enabled() || timer.interval() <= 0)
            return;
        view.ticking = true;
        runHandler(timer.onTick);
        view.ticking = false;
    });
}

void QtView::Impl::wireWindow()
{
    m_window.closeRequested = [this] {
        if (!m_form.unloaded())
            runHandler([this] { m_form.close(); });
    };
    m_window.moved = [this] { windowMoved(); };
    m_window.stateChanged = [this] { m_form.viewMinimized(m_window.isMinimized()); };

    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), &m_window);
    QObject::connect(help, &QShortcut::activated, &m_window, [this] { showHelp(); });
}

} // namespace zentrel::ui
