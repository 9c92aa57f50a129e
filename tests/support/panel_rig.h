// panel_rig.h: the application wired to real files and a fake network, clock and dialogs.
#pragma once
#include "app/application.h"
#include "platform/posix/posix_profile.h"
#include "tests/support/counting_text_files.h"
#include "tests/support/current_dir.h"
#include "tests/support/fakes.h"
#include "ui/window_model.h"

namespace zentrel::tests {

// Every handler wired on a window as a clean start-up leaves it: real files in
// a scratch directory, counted so that a test can tell none was left open, a
// fake network and a loop whose clock moves only when the code yields.
struct PanelRig {
    ScratchDir dir;
    CountingTextFiles files;
    platform::PosixProfile profile;
    FakeEventLoop loop;
    FakeNetwork network{loop};
    FakeDialogs dialogs;
    FakeInstanceGuard guard;
    platform::Platform platform{network, profile, files, loop, dialogs, guard};
    ui::ZentrelFRM form;
    app::Application application{form, platform};

    PanelRig()
    {
        form.LBL_titre.setVisible(false);
        form.TXT_OutPut.setText({});
        form.CMD_OriginalConfig.setEnabled(true);
        form.CMD_Answers.setEnabled(true);
    }
};

} // namespace zentrel::tests
