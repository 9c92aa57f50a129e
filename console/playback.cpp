// playback.cpp: plays RESPONSE.TXT to the connected client, item by item at the set pace.
#include "console/playback.h"

#include "console/item_reader.h"
#include "console/paced_wait.h"
#include "console/quietly.h"
#include "platform/error.h"

#include <string_view>

namespace zentrel::console {

Playback::Playback(ui::ZentrelFRM &form, platform::Platform &platform, Shared &shared)
    : m_form(form), m_platform(platform), m_shared(shared)
{
}

Playback::Exit Playback::run()
{
    Exit exit = Exit::Failed;
    try {
        exit = play();
    } catch (...) {
        // A file that cannot be read on, a send the socket refuses: the
        // connection ends as if the script were over, and the window is idle.
        closeFileOne();
        if (!m_shared.stopRequested)
            endOfScript();
    }
    closeFileOne();
    return exit;
}

Playback::Exit Playback::play()
{
    try {
        m_platform.files.open(1, ResponseFile, platform::TextFiles::Mode::Input);
    } catch (const platform::Error &) {
        // Missing or unreadable: the client gets no byte, as with an empty script.
        endOfScript();
        return Exit::ScriptExhausted;
    }
    m_fileOpen = true;
    m_shared.fileOneBusy = true;

    platform::InputStream &script = m_platform.files.input(1);
    platform::SocketArray &sockets = m_platform.sockets;
    const int connection = m_shared.connectionIndex;

    while (!script.atEnd()) {
        if (pacedWait(m_shared, m_platform.loop) == WaitResult::Stopped)
            return Exit::Stopped;   // the window is unloading: only file 1 gets closed

        readItem(script, m_line);
        // The close event has run during the pause if the client left; the
        // item just read is then neither shown nor sent.
        if (sockets.state(connection) == platform::SocketArray::Closed) {
            clientGone();
            return Exit::ClientGone;
        }

        const std::size_t length = m_line.size();
        m_line += "\r\n";
        m_form.TXT_OutPut.append(m_line);   // collected even while hidden
        if (length != 0)
            sockets.sendData(connection, std::string_view(m_line).substr(0, length));
        m_form.setTrafficLampsVisible(!m_form.frm_green.visible());
    }
    endOfScript();
    return Exit::ScriptExhausted;
}

void Playback::endOfScript()
{
    closeFileOne();
    // What was sent still goes out before the connection is shut.
    quietly([this] { m_platform.sockets.close(m_shared.connectionIndex); });
    m_form.FRM_Winsock.setBackColour(ui::Green);
    m_form.setTrafficLampsVisible(false);
    m_form.CMD_Answers.setEnabled(true);
    m_form.CMD_OriginalConfig.setEnabled(true);
    m_form.CMD_ReceivedCommands.setEnabled(!m_form.TXT_Input.text().empty());
    // TXT_Input stays in view with the captured commands.
}

void Playback::clientGone()
{
    // The lamps and Received Commands were set by the close event.
    m_form.TXT_OutPut.setVisible(true);
    m_form.TXT_Input.setVisible(false);
    m_form.CMD_Answers.setEnabled(true);
    m_form.CMD_OriginalConfig.setEnabled(true);
    closeFileOne();
}

void Playback::closeFileOne()
{
    if (!m_fileOpen)
        return;
    m_fileOpen = false;
    m_shared.fileOneBusy = false;
    quietly([this] { m_platform.files.close(1); });
}

} // namespace zentrel::console
