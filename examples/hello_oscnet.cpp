// First contact with oscnet: load the shared library as a host does and call it, then build a
// small computation graph by hand with the library's node classes and evaluate it.
#include <dlfcn.h>

#include <iostream>

#include "nodes/f_norm.h"
#include "nodes/leaf_nodes.h"
#include "nodes/lee_osc.h"
#include "nodes/linear_nodes.h"

using namespace oscnet;

namespace {

int call_the_library(const char* path) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::cerr << "cannot load " << path << ": " << dlerror() << "\n";
    return 1;
  }
  using MyAdd = int (*)(int, int);
  using ReleaseNet = void (*)();
  auto my_add = reinterpret_cast<MyAdd>(dlsym(library, "myAdd"));
  auto release_net = reinterpret_cast<ReleaseNet>(dlsym(library, "release_net"));
  if (my_add == nullptr || release_net == nullptr) {
    std::cerr << "liboscnet lacks its entry points\n";
    return 1;
  }
  std::cout << "loaded " << path << "\n";
  const int difference = my_add(2, 5);
  std::cout << "myAdd(2, 5) = " << difference << "\n";
  release_net();  // no network yet: nothing to do, and safe
  dlclose(library);
  return 0;
}

void evaluate_a_graph() {
  // One dense layer of one unit on the input [1, 2], its loss against the target 0, and a
  // Lee-oscillator activation on the side.
  auto* x = new Input((MatrixXd(1, 2) << 1.0, 2.0).finished());
  auto* w = new Variable((MatrixXd(2, 1) << 0.5, -0.5).finished());
  auto* b = new Variable((MatrixXd(1, 1) << 0.1).finished());
  auto* target = new Const(MatrixXd::Zero(1, 1));
  auto* output = new Add(*new Dot(*x, *w), *b);
  Nodes* loss = new F_Norm(*new Minus(*output, *target));

  forward(loss);
  std::cout << "output " << output->value << ", loss " << loss->value << "\n";

  Variable inputs((MatrixXd(1, 5) << -1.5, -0.5, 0.0, 0.5, 1.5).finished());
  Lee_Osc chaotic(inputs);
  std::cout << "Lee oscillator on [" << inputs.value << "]:\n";
  for (int pass = 0; pass < 3; ++pass) {
    chaotic.compute();
    std::cout << "  [" << chaotic.value << "]\n";
  }
  release_graph(loss);
}

}  // namespace

int main(int argc, char** argv) {
  const char* library = argc > 1 ? argv[1] : OSCNET_LIBRARY_PATH;
  if (call_the_library(library) != 0) return 1;
  evaluate_a_graph();
  return 0;
}
