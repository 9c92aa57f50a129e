// preview.cpp: the local showing of RESPONSE.TXT at the pace a client would get it.
#include "ui/preview.h"

#include "console/item_reader.h"
#include "console/paced_wait.h"
#include "ui/contained.h"

#include <string>

namespace zentrel::ui {

namespace {
const std::string ResponseFile = "RESPONSE.TXT";
constexpr int FileOne = 1;
} // namespace

Preview::Preview(ZentrelFRM &form, platform::Platform &platform, console::Shared &shared,
                 console::Listener &listener)
    : m_form(form), m_platform(platform), m_shared(shared), m_listener(listener)
{
}

void Preview::wire()
{
    m_form.CMD_Answers.onClick = contained([this] { onClick(); });
}

void Preview::onClick()
{
    // While a playback or another preview holds file number 1 the button is
    // disabled; a click that slips through anyway must not disturb it.
    if (m_form.unloaded() || m_shared.fileOneBusy)
        return;

    m_form.LBL_ProgName.setVisible(false);
    m_form.LBL_titre.setVisible(true);
    m_form.LBL_titre.setCaption("Responses");
    m_form.TXT_OutPut.setText({});
    m_form.TXT_Input.setVisible(false);
    m_form.TXT_OutPut.setVisible(true);

    // A client connecting from now on waits in the listener until we are done.
    m_shared.fileOneBusy = true;
    const Outcome outcome = play();   // never throws
    m_shared.fileOneBusy = false;

    // The window is unloading: the file is closed, and nothing else is touched.
    if (outcome == Outcome::Stopped || m_shared.stopRequested)
        return;

    m_form.setTrafficLampsVisible(false);
    m_form.CMD_Answers.setEnabled(true);
    m_form.CMD_OriginalConfig.setEnabled(true);
    m_listener.serveWaiting();
}

Preview::Outcome Preview::play()
{
    platform::TextFiles &files = m_platform.files;
    try {
        files.open(FileOne, ResponseFile, platform::TextFiles::Mode::Input);
    } catch (...) {
        return Outcome::Ended;   // no script to show: over at once, as an empty one
    }
    Outcome outcome = Outcome::Ended;
    try {
        m_form.CMD_Answers.setEnabled(false);
        m_form.CMD_OriginalConfig.setEnabled(false);
        std::string item;
        while (!files.eof(FileOne)) {
            if (console::pacedWait(m_shared, m_platform.loop) == console::WaitResult::Stopped) {
                outcome = Outcome::Stopped;
                break;
            }
            // Taken afresh after every pause: if the file was closed meanwhile,
            // this throws and the preview ends instead of reading a stale stream.
            console::readItem(files.input(FileOne), item);
            item += "\r\n";
            m_form.TXT_OutPut.append(item);
            m_form.setTrafficLampsVisible(!m_form.frm_green.visible());
        }
    } catch (...) {
        // The script could not be read any further: what was shown stays,
        // and the preview ends as at the end of the script.
    }
    try {
        files.close(FileOne);
    } catch (...) {
    }
    return outcome;
}

} // namespace zentrel::ui
