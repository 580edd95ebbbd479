#include "dspComponent.h"

#include <algorithm>

namespace vurnel::dsp {

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
    if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
    while (!FComponents.empty()) {
        TComponent* child = FComponents.back();
        delete child; // its destructor removes it from this list
    }
    if (FOwner) {
        auto& siblings = FOwner->FComponents;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

} // namespace vurnel::dsp
