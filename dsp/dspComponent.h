// The least of a component base: an optional owner that destroys the components it owns when it
// is destroyed itself.
#pragma once

#include <vector>

namespace vurnel::dsp {

class TComponent {
public:
    explicit TComponent(TComponent* owner);
    virtual ~TComponent(); // destroys the owned components, newest first

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }

private:
    TComponent* FOwner;
    std::vector<TComponent*> FComponents;
};

} // namespace vurnel::dsp
