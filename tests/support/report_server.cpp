#include "report_server.h"

#include <sstream>

#include "trace_capture.h"

int ServerPort(const std::string& serverDir)
{
    std::string text = ReadFileBytes(serverDir + "/port");
    return text.empty() ? 0 : std::stoi(text);
}

std::vector<std::string> RequestsWith(const std::string& serverDir, const std::string& token, const char* lpszLog)
{
    std::vector<std::string> lines;
    std::istringstream in(ReadFileBytes(serverDir + lpszLog));
    std::string line;
    while (std::getline(in, line))
        if (line.find(token) != std::string::npos) lines.push_back(line);
    return lines;
}
