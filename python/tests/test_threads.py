"""Networks used from several threads: each object serialises its own calls, and different
objects never wait for each other."""

import threading

from .support import X3, Y2, LibraryTestCase, address, bits, oscnet

LAYERS = [(12, "lee"), (6, "tanh")]
TIMEOUT = 60.0


def workload(net, seed):
    """Training, predictions and a batch on `net`, varied by `seed`; returns every number."""
    results = []
    for step in range(40):
        x = [0.01 * ((seed + step) % 17), -0.25, 0.5 - 0.01 * step]
        optimizer = "adagrad" if step % 3 else "gd"
        results.append(net.train(x, Y2, iterations=4, learning_rate=0.05, optimizer=optimizer))
        results.extend(net.predict(x))
    for row in net.predict_rows([[0.02 * i, 0.1, -0.03 * i] for i in range(16)]):
        results.extend(row)
    return bits(results)


def run_threads(targets):
    """Runs each callable on a thread of its own, all released at once; returns their results
    in order, or raises the first exception one of them raised."""
    barrier = threading.Barrier(len(targets))
    outcomes = [None] * len(targets)

    def run(index, target):
        try:
            barrier.wait(TIMEOUT)
            outcomes[index] = ("ok", target())
        except BaseException as error:  # handed to the main thread
            outcomes[index] = ("error", error)

    threads = [threading.Thread(target=run, args=item) for item in enumerate(targets)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(TIMEOUT)
        if thread.is_alive():
            raise AssertionError("a thread did not finish")
    for kind, value in outcomes:
        if kind == "error":
            raise value
    return [value for _, value in outcomes]


class Gate:
    """Holds the calls of one library function on one network inside the library until
    opened: `entered` is set once such a call is waiting."""

    def __init__(self, function, pointer):
        self.function = function
        self.pointer = address(pointer)
        self.entered = threading.Event()
        self.opened = threading.Event()

    def __call__(self, pointer, *arguments):
        if address(pointer) == self.pointer:
            self.entered.set()
            if not self.opened.wait(TIMEOUT):
                raise AssertionError("the gate was never opened")
        return self.function(pointer, *arguments)


class ThreadTest(LibraryTestCase):
    def gate(self, name, net):
        """Makes the package's calls of `name` on `net` wait at a Gate, returned."""
        gate = Gate(getattr(self.library, name), net._handle.pointer)
        setattr(self.library, name, gate)
        self.addCleanup(gate.opened.set)  # a failing test must not leave a thread waiting
        return gate

    def test_four_threads_with_four_networks_match_the_same_work_done_in_turn(self):
        seeds = [11, 12, 13, 14]
        expected = []
        for seed in seeds:
            with oscnet.Network().build(3, 2, LAYERS, seed=seed) as net:
                expected.append(workload(net, seed))
        nets = [oscnet.Network().build(3, 2, LAYERS, seed=seed) for seed in seeds]
        try:
            got = run_threads(
                [lambda net=net, seed=seed: workload(net, seed) for net, seed in zip(nets, seeds)]
            )
        finally:
            for net in nets:
                net.release()
        self.assertEqual(got, expected)

    def test_threads_sharing_one_network_are_serialised(self):
        # Gradient-descent steps on one example commute only as whole calls: 4 threads making
        # 25 calls each must end where 100 calls in a row end.
        def steps(net, count):
            for _ in range(count):
                net.train(X3, Y2, iterations=3, learning_rate=0.05)

        with oscnet.Network().build(3, 2, [(8, "tanh")], seed=21) as alone:
            steps(alone, 100)
            expected = alone.get_params()
        with oscnet.Network().build(3, 2, [(8, "tanh")], seed=21) as shared:
            run_threads([lambda: steps(shared, 25)] * 4)
            self.assertEqual(bits(shared.get_params()), bits(expected))

    def test_a_call_in_progress_does_not_hold_up_other_networks(self):
        busy = oscnet.Network().build(3, 2, LAYERS, seed=1)
        self.addCleanup(busy.release)
        gate = self.gate("oscnet_train", busy)
        held = threading.Thread(target=lambda: busy.train(X3, Y2))
        held.start()
        self.assertTrue(gate.entered.wait(TIMEOUT))

        # While busy's call is inside the library, other networks go through every step.
        def other_work():
            with oscnet.Network().build(3, 2, LAYERS, seed=2) as other:
                other.train(X3, Y2, iterations=2)
                other.predict_rows([X3, X3])
                return other.predict(X3)

        worker = threading.Thread(target=other_work)
        worker.start()
        worker.join(TIMEOUT)
        finished_while_held = not worker.is_alive()
        gate.opened.set()
        held.join(TIMEOUT)
        self.assertTrue(finished_while_held)
        self.assertFalse(held.is_alive())

    def test_release_waits_for_a_call_in_progress_on_the_same_network(self):
        net = oscnet.Network().build(3, 2, LAYERS, seed=1)
        gate = self.gate("oscnet_predict_rows", net)
        outputs = []
        caller = threading.Thread(target=lambda: outputs.append(net.predict_rows([X3] * 3)))
        caller.start()
        self.assertTrue(gate.entered.wait(TIMEOUT))
        releaser = threading.Thread(target=net.release)
        releaser.start()
        releaser.join(0.2)  # it has had time to free the network, had it not waited
        destroyed_while_in_use = self.library.destroyed
        gate.opened.set()
        caller.join(TIMEOUT)
        releaser.join(TIMEOUT)
        self.assertEqual(destroyed_while_in_use, 0)
        self.assertEqual(self.library.destroyed, 1)
        self.assertEqual(len(outputs[0]), 3)
        with self.assertRaisesRegex(oscnet.OscnetError, "released"):
            net.predict(X3)

    def test_networks_made_and_dropped_on_many_threads(self):
        def churn(seed):
            results = []
            for round_ in range(10):
                net = oscnet.Network().build(3, 2, [(4, "lee")], seed=seed + round_)
                results.append(net.train(X3, Y2, iterations=2))
                if round_ % 2:
                    net.release()
                # otherwise dropped: freed by collection, possibly on another thread
            return bits(results)

        got = run_threads([lambda seed=seed: churn(seed) for seed in (100, 200, 300, 400)])
        self.assertEqual(got, [churn(seed) for seed in (100, 200, 300, 400)])
