"""The Python library's side of the library benchmark (sdk_bench.mjs runs it):
    python3 sdk_bench_backend.py <launcher> <page> <mode> <n>
Starts the launcher on the benchmark page, echoes its pings, prints "FIRST"
once the first page call is answered and "RESULT <json>" with the page's
own measurement, then quits."""

import asyncio
import json
import sys

import ovalis


async def main(launcher: str, page: str, mode: str, n: str) -> int:
    b = ovalis.Backend()
    first = False

    def hello(call: ovalis.Call) -> object:
        nonlocal first
        call.resolve({"ok": True})
        if not first:
            first = True
            print("FIRST", flush=True)
        return None

    def result(call: ovalis.Call) -> object:
        print("RESULT " + json.dumps(call.params, separators=(",", ":")), flush=True)
        call.resolve({})
        b.quit()
        return None

    b.handle("client.hello", hello)
    b.handle("bench.ping", lambda call: call.params)
    b.handle("bench.result", result)
    env = {"OVALIS_INJECT": f"window.__bench={{mode:'{mode}',n:{int(n)}}};"}
    try:
        await b.start(ovalis.LaunchOptions(page=page, launcher=launcher, title="bench", env=env))
    except ovalis.LaunchError as e:
        print(f"sdk_bench_backend.py: {e}", file=sys.stderr)
        return 1
    return await b.run()


if __name__ == "__main__":
    if len(sys.argv) < 5:
        print("usage: sdk_bench_backend.py <launcher> <page> <mode> <n>", file=sys.stderr)
        raise SystemExit(2)
    raise SystemExit(asyncio.run(main(*sys.argv[1:5])))
