#include "tolvak/output/port_list.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include <nlohmann/json.hpp>

#include "tolvak/output/text_format.h"

namespace tolvak::cli {

namespace {

// A name as text and numbers alternately, so that numbers compare by value.
std::vector<std::pair<std::string, unsigned long long>> naturalKey(const std::string& name) {
    std::vector<std::pair<std::string, unsigned long long>> key;
    size_t i = 0;
    while (i < name.size()) {
        std::string text;
        while (i < name.size() && !std::isdigit(static_cast<unsigned char>(name[i])))
            text += static_cast<char>(std::tolower(static_cast<unsigned char>(name[i++])));
        unsigned long long number = 0;
        for (int digits = 0; i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]));
             ++i)
            if (++digits < 19) number = number * 10 + static_cast<unsigned>(name[i] - '0');
        key.emplace_back(std::move(text), number);
    }
    return key;
}

std::string padded(std::string text, size_t width) {
    text.resize(std::max(width, text.size()), ' ');
    return text;
}

} // namespace

void sortPorts(std::vector<SerialPortInfo>& ports) {
    std::stable_sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
        return std::make_tuple(naturalKey(a.name), a.name) <
               std::make_tuple(naturalKey(b.name), b.name);
    });
}

std::string portsText(const std::vector<SerialPortInfo>& ports) {
    if (ports.empty()) return "no serial ports found\n";
    size_t nameWidth = 4, driverWidth = 6;
    for (const auto& port : ports) {
        nameWidth = std::max(nameWidth, port.name.size());
        driverWidth = std::max(driverWidth, port.driver.size());
    }
    auto row = [&](const std::string& name, const std::string& driver, std::string description) {
        std::string line = padded(name, nameWidth + 2) + padded(driver, driverWidth + 2);
        line += description;
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        return line + '\n';
    };
    std::string text = row("PORT", "DRIVER", "DESCRIPTION");
    for (const auto& port : ports) {
        std::string description = port.description;
        if (!port.usbId.empty())
            description += (description.empty() ? "USB " : ", USB ") + port.usbId;
        text += row(port.name, port.driver, description);
        for (const auto& link : port.links)
            text += "  stable name: " + link + '\n';
        if (port.accessible == false)
            text += "  no access for this user" +
                    (port.group.empty() ? std::string() : ": group " + port.group + " may") + '\n';
    }
    return text;
}

std::string portsJson(const std::vector<SerialPortInfo>& ports) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& port : ports) {
        nlohmann::ordered_json object;
        object["name"] = port.name;
        object["links"] = port.links;
        object["driver"] = port.driver;
        object["description"] = port.description;
        object["usbId"] = port.usbId;
        object["accessible"] = port.accessible ? nlohmann::ordered_json(*port.accessible) : nullptr;
        object["group"] = port.group;
        list.push_back(std::move(object));
    }
    return jsonText(list);
}

} // namespace tolvak::cli
