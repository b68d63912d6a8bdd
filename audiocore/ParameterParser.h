#pragma once

#include <string>
#include <vector>

// Reads the decoder names back from a decoder parameters document.
class ParameterParser {
public:
    // Names of the members of every element of the "Parameters" array, in document order
    // (several per element when an element has several members; repeats kept). Throws
    // InvalidJSONInput when the text is not one JSON value, the root has no "Parameters"
    // array or an element is not an object.
    static std::vector<std::string> getDecoders(const std::string& document);
};
