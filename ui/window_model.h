// window_model.h: the main window ZentrelFRM and every element on it.
#pragma once
#include "ui/window.h"

#include <vector>

namespace zentrel::ui {

// The window's outer height, in twips, holds one of these two values; the
// toggle compares with CompactHeight exactly.
inline constexpr float CompactHeight = 1635.0f;
inline constexpr float ExpandedHeight = 3400.0f;
// Title bar and border of the outer height; the client area is the rest.
inline constexpr int FrameAllowance = 375;

inline constexpr Colour Green = rgb(0, 255, 0);
inline constexpr Colour Yellow = rgb(255, 255, 0);
inline constexpr Colour Red = rgb(255, 0, 0);
inline constexpr Colour Black = rgb(0, 0, 0);

// Created with every element in its initial state; start-up takes it from there.
class ZentrelFRM : public Window
{
public:
    ZentrelFRM();

    // Upper band.
    PictureBox Picture1;
    PictureBox FRM_Vert;
    Label LBL_ProgName;
    Label LBL_titre;
    Lamp FRM_On;       // alarm lamp
    Lamp FRM_Winsock;  // connection lamp
    Lamp FRM_Yellow;   // traffic lamps, top to bottom
    Lamp FRM_Red;
    Lamp frm_green;

    // Lower panel.
    Frame FRM_Infos;
    Label LBL_Delay;
    Label LBL_Answers;
    Label LBL_Port;
    TextBox TXT_OutPut;
    TextBox TXT_Input;  // created after TXT_OutPut, so it covers it
    Label Label2;
    Label Label3;
    Button CMD_Quitter;
    Button CMD_ReceivedCommands;
    Button CMD_OriginalConfig;
    Button CMD_Answers;

    Timer Timer1;

    // Every element but the window, in creation order (back to front).
    const std::vector<Element *> &elements() const { return m_elements; }
    // The elements that take the keyboard focus, first to last.
    const std::vector<Element *> &focusOrder() const { return m_focusOrder; }
    Element *find(const std::string &name) const;

    void setTrafficLampsVisible(bool visible);

private:
    std::vector<Element *> m_elements;
    std::vector<Element *> m_focusOrder;
};

} // namespace zentrel::ui
