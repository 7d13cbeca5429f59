// The command line's switch rules.
#include "app/SinjoApp.h"

#include <gtest/gtest.h>

namespace {

using Mode = SinjoApp::Mode;

TEST(SinjoAppCommandLine, SwitchRules) {
    const struct {
        std::vector<std::string> args;
        Mode mode;
    } cases[] = {
        {{}, Mode::normal},
        {{"/Regserver"}, Mode::register_server},
        {{"-REGISTER"}, Mode::register_server},
        {{"/unregserver"}, Mode::unregister_server},
        {{"-UnRegister"}, Mode::unregister_server},
        {{"-Embedding"}, Mode::automation_server},
        {{"/automation"}, Mode::automation_server},
        // The last of a kind wins; the embedding test comes before the shell command.
        {{"-Regserver", "-Unregserver"}, Mode::unregister_server},
        {{"-Unregister", "/regserver"}, Mode::register_server},
        {{"-Embedding", "-Regserver"}, Mode::automation_server},
        {{"-Regserver", "/Automation"}, Mode::automation_server},
        // Anything else is ignored: file names, unknown switches, a lone prefix, other prefixes.
        {{"song.avi"}, Mode::normal},
        {{"Regserver"}, Mode::normal},
        {{"--Regserver"}, Mode::normal},
        {{"-", "/", "-x", "+Regserver"}, Mode::normal},
        {{"C:\\Mtv\\a.avi", "-regserver", "b.mp3"}, Mode::register_server},
    };
    for (const auto& c : cases) {
        std::string text;
        for (const std::string& a : c.args) text += a + " ";
        EXPECT_EQ(SinjoApp::ParseCommandLine(c.args), c.mode) << text;
    }
}

}  // namespace
