#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "nodes/leaf_nodes.h"
#include "nodes/linear_nodes.h"
#include "nodes/nodes.h"

namespace oscnet {
namespace {

// Records when each node computes and when it is destroyed.
struct Journal {
  std::vector<std::string> computed;
  std::vector<std::string> destroyed;
};

class Recorder : public Nodes {
 public:
  Recorder(Journal& journal, std::string name) : journal_(journal), name_(std::move(name)) {}
  Recorder(Journal& journal, std::string name, Nodes& only) : Recorder(journal, std::move(name)) {
    left = &only;
    only.consumer = this;
  }
  Recorder(Journal& journal, std::string name, Nodes& first, Nodes& second)
      : Recorder(journal, std::move(name)) {
    left = &first;
    right = &second;
    first.consumer = this;
    second.consumer = this;
  }
  ~Recorder() override { journal_.destroyed.push_back(name_); }
  void compute() override { journal_.computed.push_back(name_); }

 private:
  Journal& journal_;
  std::string name_;
};

// root(a(c, d), b(e)): every node of the left subtree comes before any of the right one.
struct RecordedTree {
  Journal journal;
  Recorder* c = new Recorder(journal, "c");
  Recorder* d = new Recorder(journal, "d");
  Recorder* e = new Recorder(journal, "e");
  Recorder* a = new Recorder(journal, "a", *c, *d);
  Recorder* b = new Recorder(journal, "b", *e);
  Recorder* root = new Recorder(journal, "root", *a, *b);
};

TEST(GraphLinks, NewNodeHasEmptyMatricesDefaultFlagsAndNoLinks) {
  Nodes node;
  EXPECT_EQ(node.value.size(), 0);
  EXPECT_EQ(node.grad.size(), 0);
  EXPECT_EQ(node.local_grad.size(), 0);
  EXPECT_TRUE(node.requires_grad);
  EXPECT_FALSE(node.is_param);
  EXPECT_FALSE(node.is_matmul);
  EXPECT_EQ(node.left, nullptr);
  EXPECT_EQ(node.right, nullptr);
  EXPECT_EQ(node.consumer, nullptr);
}

TEST(GraphLinks, NullRootsAreHarmless) {
  EXPECT_EQ(forward(nullptr), nullptr);
  release_graph(nullptr);
}

TEST(GraphLinks, TwoOperandConstructorLinksBothOperands) {
  Input a(MatrixXd::Ones(1, 2));
  Variable b(MatrixXd::Ones(1, 2));
  Add sum(a, b);
  EXPECT_EQ(sum.left, &a);
  EXPECT_EQ(sum.right, &b);
  EXPECT_EQ(a.consumer, &sum);
  EXPECT_EQ(b.consumer, &sum);
}

TEST(GraphLinks, ForwardEvaluatesLeftSubtreeThenRightSubtreeThenNode) {
  RecordedTree tree;
  EXPECT_EQ(forward(tree.root), tree.root);
  const std::vector<std::string> once{"c", "d", "a", "e", "b", "root"};
  EXPECT_EQ(tree.journal.computed, once);

  // No caching: a second pass recomputes everything in the same order.
  forward(tree.root);
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(tree.journal.computed, twice);
  release_graph(tree.root);
}

TEST(GraphLinks, ForwardFromInnerNodeTouchesOnlyItsSubtree) {
  RecordedTree tree;
  forward(tree.b);
  EXPECT_EQ(tree.journal.computed, (std::vector<std::string>{"e", "b"}));
  release_graph(tree.root);
}

TEST(GraphLinks, ReleaseDestroysEveryNodeOnceOperandsFirst) {
  RecordedTree tree;
  Recorder outside(tree.journal, "outside");
  tree.root->consumer = &outside;  // a consumer above the released root must survive
  release_graph(tree.root);
  EXPECT_EQ(tree.journal.destroyed, (std::vector<std::string>{"c", "d", "a", "e", "b", "root"}));
}

TEST(GraphLinks, ForwardOnLeafLeavesValueBitForBit) {
  MatrixXd data(1, 3);
  data << 0.1, -0.0, std::numeric_limits<double>::quiet_NaN();
  Variable leaf(data);
  forward(&leaf);
  EXPECT_EQ(std::memcmp(leaf.value.data(), data.data(), sizeof(double) * 3), 0);
}

}  // namespace
}  // namespace oscnet
