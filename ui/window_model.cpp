// window_model.cpp: geometry, looks and initial properties of ZentrelFRM.
#include "ui/window_model.h"

namespace zentrel::ui {

namespace {
const Font ProgNameFont{"MS Sans Serif", 18, true};
const Font TitleFont{"MS Sans Serif", 8.25, true};
const Font NoticeFont{"Small Fonts", 6, true};
} // namespace

ZentrelFRM::ZentrelFRM()
    : Window("ZentrelFRM", Twips{0, 0, 5550, 1635}, "Zentrel"),
      Picture1("Picture1", this, {0, 0, 1380, 1260}, "picture1"),
      FRM_Vert("FRM_Vert", this, {1440, 0, 4065, 1290}, "frm_vert"),
      LBL_ProgName("LBL_ProgName", &FRM_Vert, {0, 225, 4080, 615}, "Zentrel"),
      LBL_titre("LBL_titre", &FRM_Vert, {15, 285, 4080, 195}, ""),
      FRM_On("FRM_On", &FRM_Vert, {1710, 1005, 60, 60}, Green, true),
      FRM_Winsock("FRM_Winsock", &FRM_Vert, {1965, 930, 60, 60}, Green, true),
      FRM_Yellow("FRM_Yellow", &FRM_Vert, {2085, 900, 60, 60}, rgb(192, 255, 192), false),
      FRM_Red("FRM_Red", &FRM_Vert, {2085, 960, 60, 60}, rgb(192, 255, 192), false),
      frm_green("frm_green", &FRM_Vert, {2085, 1020, 60, 60}, rgb(128, 255, 128), false),
      FRM_Infos("FRM_Infos", this, {0, 1200, 1575, 1035}),
      LBL_Delay("LBL_Delay", &FRM_Infos, {120, 240, 1215, 255}, "Delay : 1000 ms"),
      LBL_Answers("LBL_Answers", &FRM_Infos, {120, 480, 1215, 255}, "Answers : Yes"),
      LBL_Port("LBL_Port", &FRM_Infos, {90, 705, 1440, 255}, "TCP Port : 00000"),
      TXT_OutPut("TXT_OutPut", this, {1560, 1320, 3975, 1335}, "Text1\r\n"),
      TXT_Input("TXT_Input", this, {1560, 1320, 3975, 1335}, ""),
      Label2("Label2", this, {0, 2280, 1695, 240}, "NOT supported by Daxmoor"),
      Label3("Label3", this, {15, 2490, 810, 225}, "F1: Help"),
      CMD_Quitter("CMD_Quitter", this, {120, 2760, 720, 255}, "&Exit", true),
      CMD_ReceivedCommands("CMD_ReceivedCommands", this, {1080, 2760, 1635, 255},
                           "&Receiv.Commands", false),
      CMD_OriginalConfig("CMD_OriginalConfig", this, {2880, 2760, 1170, 255}, "&Original Config",
                         false),
      CMD_Answers("CMD_Answers", this, {4080, 2760, 1410, 255}, "&Show Responses", false),
      Timer1("Timer1", this)
{
    m_icon = "zentrel";

    LBL_ProgName.font = ProgNameFont;
    LBL_ProgName.foreColour = HighlightTextColour;
    LBL_ProgName.centred = true;
    LBL_titre.font = TitleFont;
    LBL_titre.foreColour = HighlightTextColour;
    LBL_titre.centred = true;
    Label2.font = NoticeFont;
    Label3.font = TitleFont;
    Label3.foreColour = rgb(0, 0, 255);

    TXT_Input.setVisible(false);
    TXT_Input.clearChanged();

    m_elements = {&Picture1,    &FRM_Vert,    &LBL_ProgName, &LBL_titre,   &FRM_On,
                  &FRM_Winsock, &FRM_Yellow,  &FRM_Red,      &frm_green,   &FRM_Infos,
                  &LBL_Delay,   &LBL_Answers, &LBL_Port,     &TXT_OutPut,  &TXT_Input,
                  &Label2,      &Label3,      &CMD_Quitter,  &CMD_ReceivedCommands,
                  &CMD_OriginalConfig,        &CMD_Answers,  &Timer1};
    m_focusOrder = {&CMD_Quitter, &CMD_ReceivedCommands, &CMD_OriginalConfig, &FRM_Vert,
                    &TXT_OutPut,  &CMD_Answers,          &TXT_Input,          &Picture1};
}

Element *ZentrelFRM::find(const std::string &name) const
{
    for (Element *element : m_elements)
        if (element->name() == name)
            return element;
    return nullptr;
}

void ZentrelFRM::setTrafficLampsVisible(bool visible)
{
    frm_green.setVisible(visible);
    FRM_Red.setVisible(visible);
    FRM_Yellow.setVisible(visible);
}

} // namespace zentrel::ui
