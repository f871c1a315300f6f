// A serial-to-WebSocket bridge as users write it with serialport and ws: every line the
// indicator sends goes to every connected client. For bench/bench_bridges.py only.
//
//     node serial_ws.js DEVICE BAUD   (prints "listening PORT" once it listens on 127.0.0.1)

const { SerialPort } = require('serialport');
const { ReadlineParser } = require('@serialport/parser-readline');
const { WebSocketServer, WebSocket } = require('ws');

const [path, baud] = process.argv.slice(2);
const serial = new SerialPort({ path, baudRate: Number(baud) });
const lines = serial.pipe(new ReadlineParser({ delimiter: '\n' }));
const server = new WebSocketServer({ host: '127.0.0.1', port: 0 }, () => {
  console.log(`listening ${server.address().port}`);
});

lines.on('data', (line) => {
  const text = line.trim();
  for (const client of server.clients) {
    if (client.readyState === WebSocket.OPEN) client.send(text);
  }
});
serial.on('error', (err) => {
  console.error(err.message);
  process.exit(1);
});
