// window.cpp: property changes of the window elements, told to the view.
#include "ui/window.h"

#include <algorithm>
#include <utility>

namespace zentrel::ui {

Element::Element(Kind kind, std::string name, Element *container, Twips geometry)
    : m_kind(kind), m_name(std::move(name)), m_container(container), m_geometry(geometry)
{
}

void Element::setVisible(bool visible)
{
    if (m_visible != visible) {
        m_visible = visible;
        changed();
    }
}

Label::Label(std::string name, Element *container, Twips geometry, std::string caption)
    : Element(Kind::Label, std::move(name), container, geometry), m_caption(std::move(caption))
{
}

void Label::setCaption(std::string caption)
{
    if (m_caption != caption) {
        m_caption = std::move(caption);
        changed();
    }
}

TextBox::TextBox(std::string name, Element *container, Twips geometry, std::string text,
                 std::size_t tail)
    : Element(Kind::TextBox, std::move(name), container, geometry), m_text(std::move(text)),
      m_tail(std::max(tail, DroppedTextLine.size() * 2))
{
    keepTail();
}

void TextBox::setText(std::string text)
{
    // The same text again changes nothing the view shows: it need not start over.
    if (text == m_text)
        return;
    m_text = std::move(text);
    m_dropped = false;
    keepTail();
    ++m_generation;
    changed();
}

void TextBox::append(std::string_view bytes)
{
    if (bytes.empty())
        return;
    m_text.append(bytes);
    if (m_text.size() > m_tail) {
        keepTail();
        ++m_drops;
    }
    changed();
}

void TextBox::keepTail()
{
    if (m_text.size() <= m_tail)
        return;
    // Three quarters of the tail stay, from the first line end on, so that
    // the text under the drop line starts with a whole line where it can.
    std::size_t cut = m_text.size() - (m_tail - m_tail / 4) + DroppedTextLine.size();
    const std::size_t lineEnd = m_text.find_first_of("\r\n", cut);
    if (lineEnd != std::string::npos && lineEnd - cut < m_tail / 8) {
        cut = lineEnd + 1;
        if (m_text[lineEnd] == '\r' && cut < m_text.size() && m_text[cut] == '\n')
            ++cut;
    }
    m_text.replace(0, cut, DroppedTextLine);
    m_dropped = true;
}

Button::Button(std::string name, Element *container, Twips geometry, std::string caption,
               bool enabled)
    : Element(Kind::Button, std::move(name), container, geometry),
      m_caption(std::move(caption)), m_enabled(enabled)
{
}

void Button::setEnabled(bool enabled)
{
    if (m_enabled != enabled) {
        m_enabled = enabled;
        changed();
    }
}

Lamp::Lamp(std::string name, Element *container, Twips geometry, Colour colour, bool visible)
    : Element(Kind::Lamp, std::move(name), container, geometry), m_colour(colour)
{
    Element::setVisible(visible);
    clearChanged();
}

void Lamp::setBackColour(Colour colour)
{
    if (m_colour != colour) {
        m_colour = colour;
        changed();
    }
}

Frame::Frame(std::string name, Element *container, Twips geometry)
    : Element(Kind::Frame, std::move(name), container, geometry)
{
}

PictureBox::PictureBox(std::string name, Element *container, Twips geometry, std::string picture)
    : Element(Kind::PictureBox, std::move(name), container, geometry),
      m_picture(std::move(picture))
{
}

Timer::Timer(std::string name, Element *container)
    : Element(Kind::Timer, std::move(name), container, Twips{})
{
}

void Timer::setEnabled(bool enabled)
{
    if (m_enabled != enabled) {
        m_enabled = enabled;
        changed();
    }
}

void Timer::setInterval(int milliseconds)
{
    if (m_interval != milliseconds) {
        m_interval = milliseconds;
        changed();
    }
}

Window::Window(std::string name, Twips geometry, std::string caption)
    : Element(Kind::Window, std::move(name), nullptr, geometry), m_caption(std::move(caption)),
      m_height(static_cast<float>(geometry.height))
{
}

void Window::setCaption(std::string caption)
{
    if (m_caption != caption) {
        m_caption = std::move(caption);
        changed();
    }
}

void Window::setHeight(float height)
{
    if (m_height != height) {
        m_height = height;
        changed();
    }
}

void Window::setLeft(float left)
{
    m_left = left;
    changed();
}

void Window::setTop(float top)
{
    m_top = top;
    changed();
}

void Window::setTopmost()
{
    m_topmost = true;
    changed();
}

void Window::setHelpFile(std::string name)
{
    m_helpFile = std::move(name);
    changed();
}

void Window::close()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    // The view must hear of the unload even if the handler fails, or the
    // program would keep running with a window that ignores every click.
    struct TellView {
        Window &window;
        ~TellView() { window.refreshNow(); }
    } tellView{*this};
    if (onUnload)
        onUnload();
}

} // namespace zentrel::ui
