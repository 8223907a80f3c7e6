// The base of every component of the network code.
#pragma once

#include "base/Component.h"

class TIdBaseComponent : public TComponent {
public:
    using TComponent::TComponent;
};
