#include "widgets/GaugeModel.h"

#include "base/Exception.h"
#include "base/Format.h"

#include <algorithm>

namespace {

// Stores a differing value; true when it differed.
template <class T>
bool Store(T& property, const T& value) {
    if (property == value) {
        return false;
    }
    property = value;
    return true;
}

} // namespace

int32_t TGaugeModel::PercentDone() const {
    return GaugeGeometry::PercentDone(FMinValue, FMaxValue, FProgress);
}

bool TGaugeModel::SetKind(TCGaugeKind value) {
    return Store(FKind, value);
}

bool TGaugeModel::SetShowText(bool value) {
    return Store(FShowText, value);
}

bool TGaugeModel::SetBorderStyle(uint8_t value) {
    return Store(FBorderStyle, value);
}

bool TGaugeModel::SetForeColor(TGaugeColour value) {
    return Store(FForeColor, value);
}

bool TGaugeModel::SetBackColor(TGaugeColour value) {
    return Store(FBackColor, value);
}

bool TGaugeModel::SetMinValue(int32_t value) {
    if (value == FMinValue) {
        return false;
    }
    if (value > FMaxValue) {
        // The bound is worked out in 64 bits so that a maximum of -2147483648 cannot overflow.
        throw Exception(Format("Value must be between %lld and %lld", -2147483647LL,
                               static_cast<long long>(FMaxValue) - 1));
    }
    FMinValue = value;
    FProgress = std::max(FProgress, value);
    return true;
}

bool TGaugeModel::SetMaxValue(int32_t value) {
    if (value == FMaxValue) {
        return false;
    }
    if (value < FMinValue) {
        throw Exception(Format("Value must be between %lld and %lld",
                               static_cast<long long>(FMinValue) + 1, 2147483647LL));
    }
    FMaxValue = value;
    FProgress = std::min(FProgress, value);
    return true;
}

bool TGaugeModel::SetProgress(int32_t value) {
    const int32_t oldPercent = PercentDone();
    if (!Store(FProgress, std::clamp(value, FMinValue, FMaxValue))) {
        return false;
    }
    return PercentDone() != oldPercent;
}

bool TGaugeModel::AddProgress(int32_t delta) {
    // The sum is taken in 64 bits: in 32 bits a large increment would wrap round and pull the
    // gauge back to its minimum instead of filling it.
    const int64_t sum = static_cast<int64_t>(FProgress) + delta;
    SetProgress(static_cast<int32_t>(std::clamp<int64_t>(sum, FMinValue, FMaxValue)));
    return true;
}
