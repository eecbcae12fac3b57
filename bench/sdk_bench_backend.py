"""The Python library's side of the library benchmark (sdk_bench.mjs runs
it): python3 sdk_bench_backend.py <launcher> <page> <mode> <n>"""

import asyncio
import sys

import ovalis


async def main() -> int:
    launcher, page, mode, n = sys.argv[1:5]
    b = ovalis.Backend()
    first = False

    def hello(call: ovalis.Call) -> ovalis.JSON:
        nonlocal first
        if not first:
            first = True
            print("FIRST", flush=True)
        return {"ok": True}

    def result(call: ovalis.Call) -> ovalis.JSON:
        import json
        print("RESULT " + json.dumps(call.params), flush=True)
        asyncio.get_running_loop().call_soon(b.quit)
        return {}

    b.handle("client.hello", hello)
    b.handle("bench.ping", lambda call: call.params)
    b.handle("bench.result", result)
    await b.start(ovalis.LaunchOptions(page=page, launcher=launcher, title="bench",
                                       env={"OVALIS_INJECT": f"window.__bench={{mode:'{mode}',n:{int(n)}}};"}))
    return await b.run()


raise SystemExit(asyncio.run(main()))
