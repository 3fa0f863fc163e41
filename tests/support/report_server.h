// The local report server (tests/report/report_server.py) as a test sees
// it: the folder it was started in, through Wine's Z: drive, holds the port
// it listens on and one log line per request it received.
#pragma once

#include <string>
#include <vector>

// The port the server listens on; 0 when it has not started.
int ServerPort(const std::string& serverDir);

// The request lines in the server's log whose target contains token.
std::vector<std::string> RequestsWith(const std::string& serverDir, const std::string& token,
                                      const char* lpszLog = "/requests.log");
