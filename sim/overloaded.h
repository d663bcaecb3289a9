// Lambdas, one per alternative, as one visitor for std::visit.
#pragma once

namespace tavik::sim {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace tavik::sim
