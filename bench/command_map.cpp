// command_map.cpp: the command phase's generated commands.yaml and the bytes each of its lines must get.
#include "command_map.h"

namespace zentrel::bench {

CommandMap commandMap(int commands)
{
    CommandMap map;
    map.prompt = "bench>";
    map.yaml = "hostname: bench\nmodes:\n  exec:\n    prompt: \"" + map.prompt + "\"\n    commands:\n";
    for (int i = 0; i < commands; ++i) {
        const std::string line = "show g" + std::to_string(i / 100) + " x" + std::to_string(i % 100);
        std::string answer;
        for (int k = 1; k <= 3; ++k)
            answer += "counter " + std::to_string(k) + " of " + line + ": " + std::to_string(i * 7 + k) + "\n";
        std::string escaped;
        std::string wire;
        for (char c : answer) {
            escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
            wire += c == '\n' ? std::string("\r\n") : std::string(1, c);
        }
        map.yaml += "      \"" + line + "\": {\"answer\": \"" + escaped + "\"}\n";
        map.lines.push_back(line);
        map.replies.push_back(line + "\r\n" + wire + map.prompt);
    }
    map.yaml += "delay: 0\n";
    return map;
}

} // namespace zentrel::bench
