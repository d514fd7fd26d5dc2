"""The live view's server: a simulated graph that changes at a set rate,
streamed to every browser that opens the page, as diffs over a WebSocket.

    python examples/live/server.py [--port 8765] [--rate 200] [--changes N]

then open http://127.0.0.1:8765/. One port serves the page, its script
(bundled from examples/live/live.mjs by esbuild when the server starts, so
`npm ci` must have run) and the WebSocket at /ws.

Each client has one pending diff. The changes of every tick are merged into
it; it is sent as soon as the client has applied the message before (the
page says so with a text message "applied") and the connection has drained
it. A slow client so gets fewer, larger messages, and what waits for it is
bounded by the elements changed since its last message, not by time. A
client that connects starts from the whole graph as one diff.

GET /state gives the graph and the counters as JSON, for tests.
"""

import argparse
import asyncio
import http
import json
import shutil
import subprocess
import sys
from pathlib import Path

from websockets.asyncio.server import serve
from websockets.datastructures import Headers
from websockets.exceptions import ConnectionClosed
from websockets.http11 import Response

from quorl_api import PyGraphDiff
from simulation import Simulation

HERE = Path(__file__).resolve().parent
APPLIED = "applied"


def build_script():
    node = shutil.which("node") or sys.exit("live view: node is needed to bundle the page's script")
    result = subprocess.run([node, str(HERE / "build.mjs")], capture_output=True, check=False)
    if result.returncode != 0:
        sys.exit(f"live view: bundling the page's script failed:\n{result.stderr.decode(errors='replace')}")
    return result.stdout


def entries(diff):
    """How many nodes and edges a diff names: its size in changed elements."""
    edges = sum(len(targets) for targets in diff.new_or_updated_edges().values())
    deleted = sum(len(targets) for targets in diff.deleted_edges().values())
    return len(diff.new_or_updated_nodes()) + len(diff.deleted_nodes()) + edges + deleted


def is_empty(diff):
    return diff.num_nodes() == 0 and diff.num_edges() == 0


class Client:
    def __init__(self, number, snapshot, changed):
        self.number = number
        self.pending = snapshot
        # What changed since the last message, kept only to check the bound.
        self.changed = changed
        self.in_flight = False
        self.wake = asyncio.Event()
        self.wake.set()
        self.messages = 0
        self.bytes = 0
        self.largest_share = 0.0  # most entries of a pending diff over elements changed

    def merge(self, batch, batch_changed, check_bound):
        self.pending.merge(batch)
        if check_bound:
            self.changed |= batch_changed
            self.largest_share = max(self.largest_share, entries(self.pending) / max(len(self.changed), 1))
        self.wake.set()

    def idle(self):
        return not self.in_flight and is_empty(self.pending)


class LiveServer:
    def __init__(self, args, script):
        self.args = args
        self.script = script
        self.simulation = Simulation(seed=args.seed, max_nodes=args.max_nodes)
        self.clients = {}
        self.connected = 0
        self.first_client = asyncio.Event()

    def respond(self, connection, request):
        path = request.path.split("?", 1)[0]
        if path == "/ws":
            return None
        if path in ("/", "/index.html"):
            return self.file_response((HERE / "index.html").read_bytes(), "text/html; charset=utf-8")
        if path == "/live.js":
            return self.file_response(self.script, "text/javascript; charset=utf-8")
        if path == "/state":
            return self.file_response(json.dumps(self.status()).encode(), "application/json")
        return connection.respond(http.HTTPStatus.NOT_FOUND, "not found\n")

    @staticmethod
    def file_response(body, content_type):
        headers = Headers([("Content-Type", content_type), ("Content-Length", str(len(body))), ("Cache-Control", "no-store")])
        return Response(http.HTTPStatus.OK.value, "OK", headers, body)

    def status(self):
        state = self.simulation.state()
        state["changes"] = self.simulation.changes
        state["done"] = self.args.changes is not None and self.simulation.changes >= self.args.changes
        state["clients"] = [
            {"number": c.number, "messages": c.messages, "bytes": c.bytes, "idle": c.idle(), "largestShare": c.largest_share}
            for c in self.clients.values()
        ]
        return state

    async def handle(self, connection):
        self.connected += 1
        check = self.args.check_bound
        client = Client(self.connected, self.simulation.snapshot(), self.simulation.elements() if check else set())
        self.clients[client.number] = client
        self.first_client.set()
        receiver = asyncio.create_task(self.receive(connection, client))
        try:
            while not receiver.done():
                await client.wake.wait()
                client.wake.clear()
                if client.in_flight or is_empty(client.pending):
                    continue
                diff, client.pending = client.pending, PyGraphDiff()
                client.changed = set()
                payload = diff.to_bytes()
                client.in_flight = True
                # send() returns once the connection has taken the message
                # below its write limit.
                await connection.send(payload)
                client.messages += 1
                client.bytes += len(payload)
        except ConnectionClosed:
            pass
        finally:
            receiver.cancel()
            del self.clients[client.number]

    @staticmethod
    async def receive(connection, client):
        try:
            async for message in connection:
                if message == APPLIED:
                    client.in_flight = False
                    client.wake.set()
        finally:
            client.wake.set()  # so that the sender sees the end

    async def simulate(self):
        ticks = self.args.ticks
        owed = 0.0
        check = self.args.check_bound
        if self.args.wait_for_client:
            await self.first_client.wait()
        while self.args.changes is None or self.simulation.changes < self.args.changes:
            await asyncio.sleep(1 / ticks)
            owed += self.args.rate / ticks
            count = int(owed)
            owed -= count
            if self.args.changes is not None:
                count = min(count, self.args.changes - self.simulation.changes)
            if count == 0:
                continue
            batch = PyGraphDiff()
            changed = set() if check else None
            for _ in range(count):
                self.simulation.step(batch, changed)
            for client in self.clients.values():
                client.merge(batch, changed, check)

    async def run(self):
        async with serve(
            self.handle, self.args.host, self.args.port, process_request=self.respond, compression=None, max_size=2**16
        ) as server:
            port = server.sockets[0].getsockname()[1]
            print(f"live view: http://{self.args.host}:{port}/", flush=True)
            await self.simulate()
            await server.serve_forever()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8765, help="0 picks a free port")
    parser.add_argument("--rate", type=float, default=200, help="changes per second (default 200)")
    parser.add_argument("--ticks", type=int, default=20, help="batches of changes per second (default 20)")
    parser.add_argument("--changes", type=int, help="stop changing after this many changes")
    parser.add_argument("--max-nodes", type=int, default=1500, help="the graph's size it keeps about (default 1500)")
    parser.add_argument("--seed", type=int, help="for a repeatable run")
    parser.add_argument("--wait-for-client", action="store_true", help="start changing when the first client connects")
    parser.add_argument(
        "--check-bound", action="store_true", help="measure each pending diff against the elements changed since its last message"
    )
    args = parser.parse_args()
    try:
        asyncio.run(LiveServer(args, build_script()).run())
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
