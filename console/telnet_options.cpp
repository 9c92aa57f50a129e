// telnet_options.cpp: Telnet option negotiation as a router's console speaks it.
#include "console/telnet_options.h"

#include "console/telnet.h"

namespace zentrel::console {

namespace {

void command(std::string &out, unsigned char verb, unsigned char option)
{
    out += static_cast<char>(telnet::Iac);
    out += static_cast<char>(verb);
    out += static_cast<char>(option);
}

} // namespace

TelnetOptions::State &TelnetOptions::ours(unsigned char option)
{
    if (option == telnet::Echo)
        return m_echo;
    if (option == telnet::SuppressGoAhead)
        return m_suppressGoAhead;
    m_other = State::Off;
    return m_other;
}

std::string TelnetOptions::offer()
{
    std::string out;
    for (const unsigned char option : {telnet::Echo, telnet::SuppressGoAhead}) {
        ours(option) = State::Offered;
        command(out, telnet::Will, option);
    }
    return out;
}

std::string TelnetOptions::answer(std::string_view commands)
{
    std::string out;
    for (std::size_t at = 0; at + 1 < commands.size(); ++at) {
        if (static_cast<unsigned char>(commands[at]) != telnet::Iac)
            continue;
        const auto verb = static_cast<unsigned char>(commands[at + 1]);
        if (verb == telnet::Sb) {
            // Skipped whole: its bytes may hold anything up to IAC SE.
            const std::size_t end = commands.find("\xff\xf0", at + 2);
            if (end == std::string_view::npos)
                break;
            at = end + 1;
            continue;
        }
        if (!telnet::takesOption(verb) || at + 2 >= commands.size()) {
            ++at;
            continue;
        }
        answerOne(verb, static_cast<unsigned char>(commands[at + 2]), out);
        at += 2;
    }
    return out;
}

void TelnetOptions::answerOne(unsigned char verb, unsigned char option, std::string &out)
{
    const bool offerable = option == telnet::Echo || option == telnet::SuppressGoAhead;
    switch (verb) {
    case telnet::Will:
        // The client offers an option of its own: the router takes none.
        command(out, telnet::Dont, option);
        return;
    case telnet::Wont:
        return;   // the client's options are off already
    case telnet::Do: {
        State &state = ours(option);
        if (!offerable) {
            command(out, telnet::Wont, option);
        } else if (state == State::Off) {
            state = State::On;   // asked again after refusing it: agreed
            command(out, telnet::Will, option);
        } else {
            state = State::On;   // the answer to our offer, or an option on already
        }
        return;
    }
    case telnet::Dont: {
        // A refusal of our offer needs no answer; an option on goes off with WONT.
        // The echo goes on regardless, as from a router.
        State &state = ours(option);
        if (state == State::On)
            command(out, telnet::Wont, option);
        state = State::Off;
        return;
    }
    default:
        return;
    }
}

} // namespace zentrel::console
