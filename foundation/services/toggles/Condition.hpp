#pragma once

#include <memory>
#include <utility>
#include <vector>

namespace velmor {

// A question answered afresh at each read; nothing is cached.
class Condition {
public:
    virtual ~Condition() = default;
    virtual bool isFulfilled() const = 0;
};

// Any condition, held by value in the combinators.
class AnyCondition {
public:
    template <typename C>
    requires std::derived_from<C, Condition> AnyCondition(C condition)
        : condition_(std::make_shared<const C>(std::move(condition))) {}

    bool isFulfilled() const { return condition_->isFulfilled(); }

private:
    std::shared_ptr<const Condition> condition_;
};

// Fulfilled by the first fulfilled member, evaluated in order; the rest are not asked.
class AnyOf : public Condition {
public:
    template <typename... C> explicit AnyOf(C... members) : conditions{AnyCondition(std::move(members))...} {}
    bool isFulfilled() const override {
        for (const auto& condition : conditions) {
            if (condition.isFulfilled()) {
                return true;
            }
        }
        return false;
    }
    std::vector<AnyCondition> conditions;
};

// Unfulfilled by the first unfulfilled member, evaluated in order; the rest are not asked.
class AllOf : public Condition {
public:
    template <typename... C> explicit AllOf(C... members) : conditions{AnyCondition(std::move(members))...} {}
    bool isFulfilled() const override {
        for (const auto& condition : conditions) {
            if (!condition.isFulfilled()) {
                return false;
            }
        }
        return true;
    }
    std::vector<AnyCondition> conditions;
};

class Not : public Condition {
public:
    template <typename C> explicit Not(C member) : condition(std::move(member)) {}
    bool isFulfilled() const override { return !condition.isFulfilled(); }
    AnyCondition condition;
};

} // namespace velmor
