#include "Display.h"

#include "Convert.h"

namespace vopa::engine {

std::string displayText(const Value& value, const SqlType& type) {
    using K = Value::Kind;
    switch (value.kind()) {
        case K::Empty:
        case K::Null: return "NULL";
        case K::Boolean: return value.asBoolean() ? "1" : "0";
        case K::Currency: return formatScaled(value.asCurrency().tenThousandths, 4);
        case K::Date: {
            std::string iso = value.asDate().toIsoString();
            if (type.base == BaseType::Date) return iso.substr(0, 10);
            if (type.base == BaseType::SmallDateTime) return iso.substr(0, 19);
            return iso;
        }
        default: return value.toString();
    }
}

}  // namespace vopa::engine
