// image_start.cpp: the container image's entry point: serves every router under /routers.
//
// The image has no shell, so this small program stands in for the one line a
// shell would run: it finds the router directories the operator mounted, adds
// the image's defaults (--listen 0.0.0.0, --events -) unless the operator gave
// their own, and replaces itself with zentrel-serve from its own folder.
// /routers may be one router (it holds RESPONSE.TXT or zentrel.ini) or a folder
// of routers, one subdirectory each; with --router, the image's starter
// routers need none. ZENTREL_ROUTERS names another folder, for running the
// image's programs outside a container.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int UsageError = 2;   // zentrel-serve's status for a router that cannot start

bool isRouter(const fs::path &dir)
{
    std::error_code error;
    return fs::is_regular_file(dir / "RESPONSE.TXT", error)
        || fs::is_regular_file(dir / "zentrel.ini", error);
}

// The routers under `root`, sorted so that their ports follow the names.
std::vector<std::string> findRouters(const fs::path &root, std::string &problem)
{
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        problem = root.string() + " is not a directory";
        return {};
    }
    if (isRouter(root))
        return {root.string()};
    std::vector<std::string> routers;
    for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        // ConfigMap volumes add hidden ..data links; only visible folders are routers.
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] != '.' && it->is_directory(error))
            routers.push_back(it->path().string());
    }
    if (error)
        problem = "cannot read " + root.string() + ": " + error.message();
    std::sort(routers.begin(), routers.end());
    return routers;
}

bool given(const std::vector<std::string> &args, const std::string &option)
{
    return std::any_of(args.begin(), args.end(), [&](const std::string &arg) {
        return arg == option || arg.rfind(option + "=", 0) == 0;
    });
}

} // namespace

int main(int argc, char **argv)
{
    const char *override = std::getenv("ZENTREL_ROUTERS");
    const fs::path root = override && *override ? override : "/routers";
    std::vector<std::string> options(argv + 1, argv + argc);
    const bool onlyAsking = given(options, "--help") || given(options, "--version") || given(options, "--routers");
    // Starter routers come with the image: /routers may stay empty for them.
    const bool starters = given(options, "--router");

    std::string problem;
    const std::vector<std::string> routers = onlyAsking ? std::vector<std::string>{}
                                                        : findRouters(root, problem);
    if (!onlyAsking && !starters && routers.empty()) {
        if (problem.empty())
            problem = "no router directory in " + root.string();
        std::fprintf(stderr, "zentrel-serve: %s; mount one, e.g. -v ./myrouter:/routers:ro\n",
                     problem.c_str());
        return UsageError;
    }

    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    const fs::path serve = (error ? fs::path("/") : self.parent_path()) / "zentrel-serve";
    std::vector<std::string> args{serve.string()};
    if (!onlyAsking && !given(options, "--listen"))
        args.insert(args.end(), {"--listen", "0.0.0.0"});
    if (!onlyAsking && !given(options, "--events"))
        args.insert(args.end(), {"--events", "-"});
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), routers.begin(), routers.end());

    std::vector<char *> argvOut;
    for (std::string &arg : args)
        argvOut.push_back(arg.data());
    argvOut.push_back(nullptr);
    execv(argvOut[0], argvOut.data());
    std::fprintf(stderr, "zentrel-serve: cannot start %s: %s\n", argvOut[0], std::strerror(errno));
    return UsageError;
}
