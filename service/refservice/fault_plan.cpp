#include "fault_plan.h"

#include <cerrno>
#include <cstdlib>
#include <climits>
#include <sstream>

namespace vxs {
namespace refservice {

namespace {

bool parse_int(const std::string& text, int* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX) return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool apply_item(const std::string& name, const std::string& value, bool has_value, FaultPlan* plan) {
    struct NumberItem {
        const char* name;
        int FaultPlan::*field;
    };
    static const NumberItem numbers[] = {
        {"up_status", &FaultPlan::up_status},           {"down_status", &FaultPlan::down_status},
        {"status", &FaultPlan::request_status},         {"partial_err_no", &FaultPlan::partial_err_no},
        {"final_err_no", &FaultPlan::final_err_no},     {"final_delay_ms", &FaultPlan::final_delay_ms},
        {"stall_ms", &FaultPlan::stall_ms},
    };
    for (const NumberItem& item : numbers) {
        if (name != item.name) continue;
        return has_value && parse_int(value, &(plan->*item.field));
    }
    struct FlagItem {
        const char* name;
        bool FaultPlan::*field;
    };
    static const FlagItem flags[] = {
        {"no_end", &FaultPlan::no_end},
        {"drop", &FaultPlan::drop},
        {"bad_json", &FaultPlan::bad_json},
        {"bad_length", &FaultPlan::bad_length},
    };
    for (const FlagItem& item : flags) {
        if (name != item.name) continue;
        if (has_value) return false;
        plan->*item.field = true;
        return true;
    }
    return false;
}

}  // namespace

bool FaultPlan::empty() const { return describe().empty(); }

void FaultPlan::merge(const FaultPlan& other) {
    if (other.up_status) up_status = other.up_status;
    if (other.down_status) down_status = other.down_status;
    if (other.request_status) request_status = other.request_status;
    if (other.partial_err_no) partial_err_no = other.partial_err_no;
    if (other.final_err_no) final_err_no = other.final_err_no;
    if (other.final_delay_ms) final_delay_ms = other.final_delay_ms;
    if (other.stall_ms) stall_ms = other.stall_ms;
    no_end = no_end || other.no_end;
    drop = drop || other.drop;
    bad_json = bad_json || other.bad_json;
    bad_length = bad_length || other.bad_length;
}

std::string FaultPlan::describe() const {
    std::ostringstream out;
    const char* separator = "";
    auto number = [&](const char* name, int value) {
        if (value == 0) return;
        out << separator << name << '=' << value;
        separator = ",";
    };
    auto flag = [&](const char* name, bool value) {
        if (!value) return;
        out << separator << name;
        separator = ",";
    };
    number("up_status", up_status);
    number("down_status", down_status);
    number("status", request_status);
    number("partial_err_no", partial_err_no);
    number("final_err_no", final_err_no);
    number("final_delay_ms", final_delay_ms);
    number("stall_ms", stall_ms);
    flag("no_end", no_end);
    flag("drop", drop);
    flag("bad_json", bad_json);
    flag("bad_length", bad_length);
    return out.str();
}

bool parse_fault_plan(const std::string& text, FaultPlan* plan, std::string* error) {
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        if (item.empty()) continue;
        const size_t equals = item.find('=');
        const bool has_value = equals != std::string::npos;
        const std::string name = item.substr(0, equals);
        const std::string value = has_value ? item.substr(equals + 1) : std::string();
        if (!apply_item(name, value, has_value, plan)) {
            if (error) *error = "bad fault item \"" + item + "\"";
            return false;
        }
    }
    return true;
}

std::string fault_text_from_path(const std::string& path) {
    const size_t start = path.find(kFaultPathPrefix);
    if (start == std::string::npos) return std::string();
    const size_t begin = start + std::char_traits<char>::length(kFaultPathPrefix);
    const size_t end = path.find('/', begin);
    return path.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace refservice
}  // namespace vxs
