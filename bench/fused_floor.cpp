#include "fused_floor.h"

#include <cmath>
#include <limits>

#include "nodes/tanh_quotient.h"

namespace oscnet_bench {
namespace {

using Eigen::Index;

double activate(int code, double x) {
  switch (code) {
    case 0:
      if (x == -std::numeric_limits<double>::infinity()) return 0.0;
      return (std::abs(x) + x) / 2.0;
    case 1:
      return 1.0 / (1.0 + std::exp(-1.0 * x));
    case 2:
      return oscnet::tanh_quotient(x, 6.0);
    default:
      return x;
  }
}

double slope(int code, double x) {
  switch (code) {
    case 0:
      return x > 0.0 ? 1.0 : 0.0;
    case 1: {
      const double s = 1.0 / (1.0 + std::exp(-1.0 * x));
      return s * (1.0 - s);
    }
    case 2:
      return oscnet::tanh_quotient_slope(x, 6.0);
    default:
      return 1.0;
  }
}

}  // namespace

FusedFloor::FusedFloor(const Shape& shape, const std::vector<double>& params)
    : input_(shape.inputs), diff_(shape.outputs) {
  const double* p = params.data();
  int below = shape.inputs;
  for (std::size_t l = 0; l <= shape.units.size(); ++l) {
    const bool output = l == shape.units.size();
    const int units = output ? shape.outputs : shape.units[l];
    Layer layer;
    layer.code = output ? -1 : shape.codes[l];
    layer.W = Eigen::Map<const Eigen::MatrixXd>(p, below, units);
    p += layer.W.size();
    layer.b = Eigen::Map<const Eigen::RowVectorXd>(p, units);
    p += units;
    layer.AW = Eigen::MatrixXd::Zero(below, units);
    layer.Ab = Eigen::RowVectorXd::Zero(units);
    layer.z.resize(units);
    layer.a.resize(units);
    layer.g.resize(units);
    layer.g_below.resize(below);
    layers_.push_back(std::move(layer));
    below = units;
  }
}

void FusedFloor::forward(const double* x) {
  input_ = Eigen::Map<const Eigen::RowVectorXd>(x, input_.size());
  const Eigen::RowVectorXd* below = &input_;
  for (Layer& layer : layers_) {
    layer.z.noalias() = *below * layer.W;
    layer.z += layer.b;
    const int code = layer.code;
    layer.a = layer.z.unaryExpr([code](double v) { return activate(code, v); });
    below = &layer.a;
  }
}

void FusedFloor::predict(const double* x, double* out) {
  forward(x);
  const Eigen::RowVectorXd& a = layers_.back().a;
  std::copy(a.data(), a.data() + a.size(), out);
}

double FusedFloor::train_step(const double* x, const double* y, double lr, bool adagrad) {
  forward(x);
  diff_ = layers_.back().a - Eigen::Map<const Eigen::RowVectorXd>(y, diff_.size());
  double loss = 0.0;
  for (Index j = 0; j < diff_.size(); ++j) loss = std::pow(diff_(j), 2.0) + loss;

  layers_.back().g = diff_ + diff_;
  for (std::size_t l = layers_.size(); l-- > 0;) {
    Layer& layer = layers_[l];
    const Eigen::RowVectorXd& below = l == 0 ? input_ : layers_[l - 1].a;
    // One pass over the weights, column by column: the column's share of the gradient that
    // goes down, taken before the column moves, then its update. No weight gradient is stored.
    layer.g_below.setZero();
    for (Index j = 0; j < layer.W.cols(); ++j) {
      const double gj = layer.g(j);
      auto w = layer.W.col(j);
      layer.g_below += gj * w.transpose();
      if (adagrad) {
        auto A = layer.AW.col(j).array();
        const auto G = below.transpose().array() * gj;
        A += G.square();
        w.array() -= lr * (G / (A + 1e-10).sqrt());
      } else {
        w.array() -= lr * (below.transpose().array() * gj);
      }
    }
    if (adagrad) {
      layer.Ab.array() += layer.g.array().square();
      layer.b.array() -= lr * (layer.g.array() / (layer.Ab.array() + 1e-10).sqrt());
    } else {
      layer.b -= lr * layer.g;
    }
    if (l > 0) {
      const Layer& under = layers_[l - 1];
      const int code = under.code;
      layers_[l - 1].g = layer.g_below.cwiseProduct(
          under.z.unaryExpr([code](double v) { return slope(code, v); }));
    }
  }
  return loss;
}

std::vector<double> FusedFloor::params() const {
  std::vector<double> all;
  for (const Layer& layer : layers_) {
    all.insert(all.end(), layer.W.data(), layer.W.data() + layer.W.size());
    all.insert(all.end(), layer.b.data(), layer.b.data() + layer.b.size());
  }
  return all;
}

}  // namespace oscnet_bench
