// window_model.h: the main window ZentrelFRM and every element on it.
#pragma once
#include "platform/window.h"

#include <vector>

namespace zentrel::ui {

// The window's outer height, in twips, holds one of these two values; the
// toggle compares with CompactHeight exactly.
inline constexpr float CompactHeight = 1635.0f;
inline constexpr float ExpandedHeight = 3400.0f;
// Title bar and border of the outer height; the client area is the rest.
inline constexpr int FrameAllowance = 375;

inline constexpr platform::Colour Green = platform::rgb(0, 255, 0);
inline constexpr platform::Colour Yellow = platform::rgb(255, 255, 0);
inline constexpr platform::Colour Red = platform::rgb(255, 0, 0);
inline constexpr platform::Colour Black = platform::rgb(0, 0, 0);

// Created with every element in its initial state; start-up takes it from there.
class ZentrelFRM : public platform::Window
{
public:
    ZentrelFRM();

    // Upper band.
    platform::PictureBox Picture1;
    platform::PictureBox FRM_Vert;
    platform::Label LBL_ProgName;
    platform::Label LBL_titre;
    platform::Lamp FRM_On;       // alarm lamp
    platform::Lamp FRM_Winsock;  // connection lamp
    platform::Lamp FRM_Yellow;   // traffic lamps, top to bottom
    platform::Lamp FRM_Red;
    platform::Lamp frm_green;

    // Lower panel.
    platform::Frame FRM_Infos;
    platform::Label LBL_Delay;
    platform::Label LBL_Answers;
    platform::Label LBL_Port;
    platform::TextBox TXT_OutPut;
    platform::TextBox TXT_Input;  // created after TXT_OutPut, so it covers it
    platform::Label Label2;
    platform::Label Label3;
    platform::Button CMD_Quitter;
    platform::Button CMD_ReceivedCommands;
    platform::Button CMD_OriginalConfig;
    platform::Button CMD_Answers;

    platform::Timer Timer1;

    // Every element but the window, in creation order (back to front).
    const std::vector<platform::Element *> &elements() const { return m_elements; }
    // The elements that take the keyboard focus, first to last.
    const std::vector<platform::Element *> &focusOrder() const { return m_focusOrder; }
    platform::Element *find(const std::string &name) const;

    void setTrafficLampsVisible(bool visible);

private:
    std::vector<platform::Element *> m_elements;
    std::vector<platform::Element *> m_focusOrder;
};

} // namespace zentrel::ui
