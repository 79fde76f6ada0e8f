// Parses the "Call" lines of a relay trace.
#include "system/wine_trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

std::string RelayTracePath()
{
    const char* path = std::getenv("QM_RELAY_TRACE");
    return path ? path : "";
}

std::vector<TracedCall> ReadTrace(const std::string& path, unsigned long threadId, unsigned long long imageBase)
{
    std::vector<TracedCall> calls;
    std::ifstream in(path.c_str());
    std::string line;
    char thread[16];
    std::snprintf(thread, sizeof(thread), "%04lx:Call ", threadId);
    while (std::getline(in, line)) {
        if (line.compare(0, strlen(thread), thread) != 0)
            continue;
        size_t call = line.find(":Call ");
        size_t open = line.find('(', call);
        size_t close = line.rfind(") ret=");
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        TracedCall traced;
        traced.line = line;
        traced.function = line.substr(call + 6, open - call - 6);
        traced.returnAddress = std::strtoull(line.c_str() + close + 6, nullptr, 16);
        if (traced.returnAddress < imageBase || traced.returnAddress >= imageBase + 0x1000000)
            continue;
        std::string args = line.substr(open + 1, close - open - 1);
        size_t start = 0;
        while (!args.empty()) {
            size_t comma = args.find(',', start);
            traced.args.push_back(args.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
        calls.push_back(traced);
    }
    return calls;
}

std::vector<TracedCall> CallsTo(const std::vector<TracedCall>& calls, const std::string& function)
{
    std::vector<TracedCall> found;
    for (const TracedCall& call : calls)
        if (call.function == function)
            found.push_back(call);
    return found;
}

std::string Describe(const TracedCall& call)
{
    std::string text = call.function.substr(call.function.find('.') + 1) + "(";
    for (size_t i = 0; i < call.args.size(); i++)
        text += (i ? "," : "") + call.args[i];
    return text + ")";
}

std::string DescribeAll(const std::vector<TracedCall>& calls)
{
    std::string text;
    for (const TracedCall& call : calls)
        text += "    " + Describe(call) + "\n";
    return text.empty() ? "    (no calls)\n" : text;
}

std::string HexArg(unsigned long long value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%08llx", value);
    return text;
}
