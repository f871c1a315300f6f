#!/usr/bin/python3
"""A serial-to-WebSocket bridge as users write it with pyserial and websockets (Debian's
python3-serial and python3-websockets): every line the indicator sends goes to every connected
client. For bench/bench_bridges.py only.

    /usr/bin/python3 serial_ws.py DEVICE BAUD   (prints "listening PORT" once it listens)
"""

import asyncio
import sys

import serial
import websockets

clients = set()


async def handler(websocket, path=None):
    clients.add(websocket)
    try:
        await websocket.wait_closed()
    finally:
        clients.discard(websocket)


async def main(device, baud):
    port = serial.Serial(device, baud)
    loop = asyncio.get_running_loop()
    async with websockets.serve(handler, "127.0.0.1", 0) as server:
        print("listening %d" % server.sockets[0].getsockname()[1], flush=True)
        while True:
            # readline blocks, so it runs on the executor's thread.
            line = await loop.run_in_executor(None, port.readline)
            websockets.broadcast(clients, line.decode("ascii", "replace").strip())


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1], int(sys.argv[2])))
