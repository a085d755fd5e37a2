// kpdevicetool-cli: scripted batches on the cameras of the local network, without a window.
#include <io.h>

#include <cstdlib>
#include <iostream>

#include "RuDAVADO.h"
#include "commands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    cli::Environment env;
    env.getenv = [](const char* name) -> const char* { return std::getenv(name); };
    env.terminal = _isatty(1) != 0;
    KpLPRClient_Setup();
    const int status = cli::RunCommandLine(args, std::cout, std::cerr, env);
    std::cout.flush();
    KpLPRClient_Cleanup();
    return status;
}
