// window.h: the kinds of window element the handlers work with.
//
// An element holds its properties itself, so the handlers run the same with
// or without a toolkit behind them. A view (ui/qt) observes the
// elements: it hears of the first change after each of its syncs, shows the
// properties when it next gets control, and feeds clicks, ticks and the
// window's own moves back in.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::ui {

// 0x00BBGGRR; a value with the top bit set names a system colour instead.
using Colour = std::uint32_t;
constexpr Colour rgb(unsigned r, unsigned g, unsigned b) { return r | (g << 8) | (b << 16); }
constexpr Colour systemColour(unsigned index) { return 0x80000000u | index; }
constexpr Colour HighlightTextColour = systemColour(14);

// Positions and sizes in twips, from the top-left corner of the container.
struct Twips {
    int left = 0, top = 0, width = 0, height = 0;
};

// An empty family means the window's default font.
struct Font {
    std::string family;
    double points = 0;
    bool bold = false;
};

enum class Kind { Window, Label, TextBox, Button, Lamp, Frame, PictureBox, Timer };

class Element;

class ElementObserver
{
public:
    virtual ~ElementObserver() = default;
    // The first change since the element was last synced; the view shows the
    // element's properties no later than its next pass of the event loop.
    virtual void elementChanged(Element &element) = 0;
    // Show the element's properties now and paint it before returning.
    virtual void elementRefresh(Element &element) = 0;
};

class Element
{
public:
    Element(Kind kind, std::string name, Element *container, Twips geometry);
    virtual ~Element() = default;
    Element(const Element &) = delete;
    Element &operator=(const Element &) = delete;

    Kind kind() const { return m_kind; }
    const std::string &name() const { return m_name; }
    Element *container() const { return m_container; }
    const Twips &geometry() const { return m_geometry; }

    bool visible() const { return m_visible; }
    void setVisible(bool visible);

    // For the view.
    void setObserver(ElementObserver *observer) { m_observer = observer; }
    bool hasChanged() const { return m_changed; }
    void clearChanged() { m_changed = false; }

protected:
    void changed()
    {
        if (!m_changed) {
            m_changed = true;
            if (m_observer)
                m_observer->elementChanged(*this);
        }
    }
    void refreshNow()
    {
        if (m_observer)
            m_observer->elementRefresh(*this);
    }

private:
    Kind m_kind;
    std::string m_name;
    Element *m_container;
    Twips m_geometry;
    bool m_visible = true;
    bool m_changed = false;
    ElementObserver *m_observer = nullptr;
};

class Label : public Element
{
public:
    Label(std::string name, Element *container, Twips geometry, std::string caption);

    const std::string &caption() const { return m_caption; }
    void setCaption(std::string caption);

    // Look, fixed when the window is created.
    Font font;
    Colour foreColour = systemColour(18); // the system's button-text colour
    bool centred = false;

    std::function<void()> onClick;

private:
    std::string m_caption;
};

// How much of its latest text a text box keeps. A client that floods or a
// script of any length must not grow the window without end; the operator
// reads the tail, and the first line says that the start is gone.
inline constexpr std::size_t TextBoxTail = std::size_t(4) << 20;
inline constexpr std::string_view DroppedTextLine = "[older text dropped]\r\n";

// A multi-line text box with both scroll bars. Its text only ever grows by
// append() or is replaced by setText(); a view keeps pace with appends by
// showing only what was added. Past `tail` bytes the oldest text goes, a
// quarter of the tail at a time (so an append still costs what it adds, not
// what the box holds), and DroppedTextLine takes its place.
class TextBox : public Element
{
public:
    TextBox(std::string name, Element *container, Twips geometry, std::string text,
            std::size_t tail = TextBoxTail);

    const std::string &text() const { return m_text; }
    void setText(std::string text);
    void append(std::string_view bytes);
    // Shows the current text at once, painted (not a queued repaint).
    void refresh() { refreshNow(); }

    // Rises with every setText() that changes the text; the view starts over
    // when it changes.
    std::uint64_t generation() const { return m_generation; }
    // Rises whenever older text is dropped from the front; the view reads the
    // whole text again but stays at its end.
    std::uint64_t drops() const { return m_drops; }
    bool droppedOlderText() const { return m_dropped; }

private:
    void keepTail();

    std::string m_text;
    std::size_t m_tail;
    std::uint64_t m_generation = 0;
    std::uint64_t m_drops = 0;
    bool m_dropped = false;   // since the last setText()
};

class Button : public Element
{
public:
    // An ampersand in the caption marks the access key (Alt + letter).
    Button(std::string name, Element *container, Twips geometry, std::string caption, bool enabled);

    const std::string &caption() const { return m_caption; }
    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    std::function<void()> onClick;

private:
    std::string m_caption;
    bool m_enabled;
};

// A small square that shows nothing but its colour.
class Lamp : public Element
{
public:
    Lamp(std::string name, Element *container, Twips geometry, Colour colour, bool visible);

    Colour backColour() const { return m_colour; }
    void setBackColour(Colour colour);

private:
    Colour m_colour;
};

// A frame that groups other elements, without a caption.
class Frame : public Element
{
public:
    Frame(std::string name, Element *container, Twips geometry);
};

class PictureBox : public Element
{
public:
    // The picture is the name of one of Zentrel's own images, clipped to the box.
    PictureBox(std::string name, Element *container, Twips geometry, std::string picture);

    const std::string &picture() const { return m_picture; }

    std::function<void()> onClick;

private:
    std::string m_picture;
};

class Timer : public Element
{
public:
    Timer(std::string name, Element *container);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const { return m_interval; }
    void setInterval(int milliseconds);

    std::function<void()> onTick;

private:
    bool m_enabled = false;
    int m_interval = 0;
};

// The top-level window. Height, Left and Top are in twips; the height is the
// outer height, title bar and border included.
class Window : public Element
{
public:
    Window(std::string name, Twips geometry, std::string caption);

    const std::string &caption() const { return m_caption; }
    void setCaption(std::string caption);

    float height() const { return m_height; }
    void setHeight(float height);
    float left() const { return m_left; }
    float top() const { return m_top; }
    void setLeft(float left);
    void setTop(float top);
    bool minimized() const { return m_minimized; }

    // Puts the window into the topmost band of the z-order.
    void setTopmost();
    bool topmost() const { return m_topmost; }
    // The help file that F1 opens: a bare name, looked up in the current directory.
    void setHelpFile(std::string name);
    const std::string &helpFile() const { return m_helpFile; }
    const std::string &icon() const { return m_icon; }

    // Unloads the window: runs onUnload once, then the view lets the program end
    // as soon as no handler is running any more.
    void close();
    bool unloaded() const { return m_unloaded; }

    std::function<void()> onUnload;

    // For the view: where the window manager put the window, without echoing
    // the change back to the view.
    void viewMoved(float left, float top)
    {
        m_left = left;
        m_top = top;
    }
    void viewMinimized(bool minimized) { m_minimized = minimized; }

protected:
    std::string m_icon;

private:
    std::string m_caption;
    float m_height;
    float m_left = 0;
    float m_top = 0;
    bool m_minimized = false;
    bool m_topmost = false;
    bool m_unloaded = false;
    std::string m_helpFile;
};

} // namespace zentrel::ui
