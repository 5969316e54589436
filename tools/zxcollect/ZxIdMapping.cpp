#include "ZxIdMapping.h"

#include "filesave/ZxSaveNameCheck.h"

const char* ZxIdMapping::defaultText() {
    return "0x101,Temperature\n0x301,Voltage\n0x501,Current\n0x701,Frequency\n";
}

bool ZxIdMapping::parse(const std::string& text, std::string& error) {
    text_.clear();
    names_.clear();
    ZxIdMappingText::Refusal refusal;
    if (!ZxIdMappingText::read(text, names_, refusal)) {
        const std::string name = "name '" + ZxSaveNameCheck::printable(refusal.field) + "' ";
        switch (refusal.kind) {
        case ZxIdMappingText::Refusal::Kind::Identifier:
            error = "identifier '" + refusal.field + "' is not a number that fits in 32 bits";
            break;
        case ZxIdMappingText::Refusal::Kind::Name:
            error = name + "cannot be a file name: " + refusal.problem;
            break;
        case ZxIdMappingText::Refusal::Kind::SharedName:
            error = name + "is given to two identifiers";
            break;
        }
        return false;
    }
    if (names_.empty()) {
        error = "no line of the form identifier,name";
        return false;
    }
    text_ = text;
    return true;
}

std::string ZxIdMapping::nameOf(std::uint32_t canId) const {
    const auto found = names_.find(canId);
    return found == names_.end() ? std::string() : found->second;
}
