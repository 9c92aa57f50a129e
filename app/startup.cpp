// startup.cpp: the load of the window: captions, the data file probes, the settings, the listener.
#include "app/startup.h"

#include "app/router_config.h"
#include "app/settings_file.h"
#include "app/version.h"
#include "console/number_text.h"
#include "console/router_settings.h"
#include "platform/error.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <string>

namespace zentrel::app {
namespace {

using platform::Dialogs;
using console::doubleText;

constexpr const char *ResponseName = "RESPONSE.TXT";
constexpr int LastStep = 27;
constexpr int OtherFailure = -1;   // a failure that carries no platform code

// step 0: the recovery itself.
void reportFailure(int step, const char *what)
{
    if (step == 0)
        std::fprintf(stderr, "zentrel: start-up: recovery failed: %s\n", what);
    else
        std::fprintf(stderr, "zentrel: start-up: step %d failed: %s\n", step, what);
}

// A settings number as a window edge; a number no single can hold overflows.
float toSingle(double value)
{
    if (std::abs(value) > static_cast<double>(std::numeric_limits<float>::max()))
        throw platform::Error(platform::Overflow, "overflow");
    return static_cast<float>(value);
}

// The port for the socket: nearest whole number, halves to the even one.
std::int32_t toPortNumber(double value)
{
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0))
        whole += 1;
    if (whole < std::numeric_limits<std::int32_t>::min()
        || whole > std::numeric_limits<std::int32_t>::max())
        throw platform::Error(platform::Overflow, "overflow");
    return static_cast<std::int32_t>(whole);
}

class Startup
{
public:
    Startup(ui::ZentrelFRM &form, platform::Platform &platform, ui::Shared &shared)
        : m_form(form), m_platform(platform), m_shared(shared)
    {
    }

    void run();

private:
    // False when start-up ends with this step.
    bool runStep(int step);
    // The recovery of a step that failed with the code; false when start-up ends.
    bool recover(int code);
    void routerConfigMissing();
    void responsesMissing();
    void endWithStatus(int code);

    ui::ZentrelFRM &m_form;
    platform::Platform &m_platform;
    ui::Shared &m_shared;
    DefaultConfigLines m_configLines;
    std::int16_t m_probeStage = 0;   // 1 while RESPONSE.TXT is opened, else 0
    // Held open from the probe until step 19, as proof that the file is there.
    std::unique_ptr<platform::InputStream> m_routerConfigProbe;
    std::unique_ptr<platform::InputStream> m_responseProbe;
    console::RouterSettings m_settings;
    double m_listenPort = 0;
    std::int32_t m_port = 0;
};

void Startup::run()
{
    for (int step = 1; step <= LastStep; ++step) {
        int code = 0;
        try {
            if (!runStep(step))
                return;
            continue;
        } catch (const platform::Error &error) {
            code = error.code();
            // A missing file has its own message box; the status line of any
            // other failure says only that start-up ended, so the cause goes here.
            if (code != platform::FileNotFound)
                reportFailure(step, error.what());
        } catch (const std::exception &error) {
            code = OtherFailure;
            reportFailure(step, error.what());
        } catch (...) {
            code = OtherFailure;
            reportFailure(step, "unknown failure");
        }
        if (!recover(code))
            return;
    }
}

bool Startup::runStep(int step)
{
    switch (step) {
    case 1: m_form.LBL_ProgName.setCaption("Zentrel"); break;
    case 2: m_form.LBL_titre.setVisible(false); break;
    case 3: m_configLines.fill(); break;
    case 4: m_probeStage = 0; break;
    case 5: m_shared.connectionIndex = 0; break;
    case 6: m_form.TXT_OutPut.setText(""); break;
    case 7: m_shared.stopRequested = 0; break;
    case 8: m_form.setCaption(std::string("Zentrel") + " " + Version); break;
    case 9: m_form.setHelpFile("Zentrel.chm"); break;
    case 10:
        if (m_platform.guard.anotherCopyRunning()) {
            m_form.setTopmost();
            m_platform.dialogs.messageBox("Software already loaded.", "Error",
                                          Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
            m_shared.refusedCopy = true;
            m_form.close();
            return false;
        }
        break;
    // A position off the screen is taken as it is.
    case 11: m_form.setLeft(toSingle(readSetting(m_platform.profile, "PositionX"))); break;
    case 12: m_form.setTop(toSingle(readSetting(m_platform.profile, "PositionY"))); break;
    case 13: m_form.CMD_OriginalConfig.setEnabled(true); break;
    // Opening the two files only proves that they are there.
    case 14: m_routerConfigProbe = m_platform.files.openInput(RouterConfigName); break;
    case 15: m_probeStage = 1; break;
    case 16: m_form.CMD_Answers.setEnabled(true); break;
    case 17: m_responseProbe = m_platform.files.openInput(ResponseName); break;
    case 18: m_probeStage = 0; break;
    case 19:
        m_routerConfigProbe.reset();
        m_responseProbe.reset();
        break;
    // The same rules as every program that serves a router: a negative pause
    // is 0, a missing or zero port is 1101; the window writes both back.
    case 20:
        m_settings = console::readRouterSettings(m_platform.profile, settingsPath());
        m_shared.responseDelay = m_settings.delay;
        break;
    case 21:
        if (m_settings.delayReset)
            writeSetting(m_platform.profile, "Delay", "0");
        break;
    case 22:
        m_form.LBL_Delay.setCaption("Delay : " + doubleText(m_shared.responseDelay) + " s");
        break;
    case 23: m_listenPort = m_settings.port; break;
    case 24:
        if (m_settings.portDefaulted)
            writeSetting(m_platform.profile, "TCP-Port", "1101");
        break;
    case 25: m_form.LBL_Port.setCaption("TCP Port : " + doubleText(m_listenPort)); break;
    case 26:
        // A setting such as 0.3 is not 0, so it was not replaced by the
        // default, but it rounds to 0: the listener would take whatever port
        // the system hands out, one no client can know. It is a port the
        // listening socket cannot take.
        m_port = toPortNumber(m_listenPort);
        if (m_port == 0)
            throw platform::Error(platform::InvalidPropertyValue, "port rounds to 0");
        if (m_port < 0 || m_port > 65535)
            throw platform::Error(platform::InvalidPropertyValue,
                                  "Invalid property value: port " + std::to_string(m_port));
        break;
    case 27: m_platform.network.listen(m_port); break;
    }
    return true;
}

bool Startup::recover(int code)
{
    if (code != platform::FileNotFound) {
        endWithStatus(code);
        return false;
    }
    try {
        if (m_probeStage == 0)
            routerConfigMissing();
        else
            responsesMissing();
    } catch (const std::exception &error) {
        reportFailure(0, error.what());
        endWithStatus(OtherFailure);
        return false;
    } catch (...) {
        reportFailure(0, "unknown failure");
        endWithStatus(OtherFailure);
        return false;
    }
    return true;
}

void Startup::routerConfigMissing()
{
    const auto answer = m_platform.dialogs.messageBox(
        "Warning: The Router.cfg file doesn't exists. Do you want create this file now ?",
        "No File", Dialogs::Icon::Exclamation, Dialogs::Buttons::YesNo);
    if (answer != Dialogs::Answer::Yes) {
        m_form.CMD_OriginalConfig.setEnabled(false);
        return;
    }
    // A file that cannot be created is told to the operator; the probes go on
    // and the configuration view stays off.
    try {
        createRouterConfig(m_platform.files, m_configLines);
        m_form.CMD_OriginalConfig.setEnabled(true);
    } catch (const std::exception &error) {
        m_form.CMD_OriginalConfig.setEnabled(false);
        std::string reason = error.what();
        if (reason.empty())
            reason = "unknown cause";
        m_platform.dialogs.messageBox("The Router.cfg file could not be created: " + reason,
                                      "Error", Dialogs::Icon::Critical, Dialogs::Buttons::Ok);
    }
}

void Startup::responsesMissing()
{
    m_form.LBL_Answers.setCaption("Responses : No");
    m_platform.dialogs.messageBox("Warning: The RESPONSE.TXT file doesn't exists. The Emulator "
                                  "doesn't send responses to requests",
                                  "No File", Dialogs::Icon::Exclamation, Dialogs::Buttons::Ok);
    m_form.CMD_Answers.setEnabled(false);
}

void Startup::endWithStatus(int code)
{
    try {
        if (code == platform::InvalidPropertyValue) {
            m_form.LBL_titre.setVisible(true);
            m_form.Timer1.setEnabled(true);
            m_form.Timer1.setInterval(300);
            m_form.LBL_titre.setCaption("Error : Port Not Open.");
        } else {
            m_form.LBL_titre.setVisible(true);
            m_form.LBL_titre.setCaption("Unknown Error !!!");
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "zentrel: start-up ended and its status could not be shown: %s\n",
                     error.what());
    }
    // A probe that failed half-way must not hold its file for the whole run.
    m_routerConfigProbe.reset();
    m_responseProbe.reset();
}

} // namespace

void startup(ui::ZentrelFRM &form, platform::Platform &platform, ui::Shared &shared)
{
    Startup(form, platform, shared).run();
    // However start-up ended, the two buttons now say what the probes found.
    shared.configAvailable = form.CMD_OriginalConfig.enabled();
    shared.responsesAvailable = form.CMD_Answers.enabled();
}

} // namespace zentrel::app
