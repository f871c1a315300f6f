// A real browser opens the page of tolvak serve and sees the weight change as the simulated
// truck drives on, then stand still (the stable mark), beside a second scale in its own panel.
// The system's Chromium, headless, driven by playwright-core; no browser is ever downloaded.
//
// Usage: node browser_test.mjs TOLVAK SCREENSHOT.png
// $TOLVAK_SERVER, when set, is the command that serves instead (tolvak.exe under Wine), reaching
// the indicator by the COM port name linked in $TOLVAK_SERVER_PORTS (as tests/serve does).
// Exit status 77 (skipped) when Chromium or playwright-core is not installed.
import { spawn } from "node:child_process";
import { existsSync, mkdtempSync, rmSync, symlinkSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { createInterface } from "node:readline";

const CHROMIUM = "/usr/bin/chromium";
const [tool, screenshot] = process.argv.slice(2);

function skip(why) {
  console.log("SKIPPED: " + why);
  process.exit(77);
}

if (!existsSync(CHROMIUM)) skip(CHROMIUM + " is not installed (scripts/setup.sh installs it)");
let chromium;
try {
  ({ chromium } = await import("playwright-core"));
} catch {
  skip("playwright-core is not installed (npm ci --prefix tests/browser)");
}

// The first line a child prints.
function firstLine(child) {
  return new Promise((resolve, reject) => {
    const lines = createInterface({ input: child.stdout });
    lines.once("line", resolve);
    child.once("exit", code => reject(new Error("exited with " + code)));
  });
}

const children = [];
function start(args, command = [tool]) {
  const child = spawn(command[0], [...command.slice(1), ...args],
                      { stdio: ["ignore", "pipe", "inherit"] });
  children.push(child);
  return child;
}

const profile = mkdtempSync(join(tmpdir(), "tolvak-chromium-"));
let context;
let failed = false;
try {
  const indicator = start(["indicator", "--rate", "20"]);
  let device = await firstLine(indicator);
  const ports = process.env.TOLVAK_SERVER_PORTS;
  if (ports) {
    rmSync(join(ports, "com19"), { force: true });
    symlinkSync(device, join(ports, "com19"));
    device = "COM19";
  }
  const server = process.env.TOLVAK_SERVER ? process.env.TOLVAK_SERVER.split(" ") : [tool];
  // Two scales: the indicator's, which is the default and keeps the one-scale page's ids, and the
  // simulated truck beside it.
  const serve = start(["serve", "--scale", "in=" + device, "--scale", "demo=simulate", "--listen",
                       "127.0.0.1:0"], server);
  const url = (await firstLine(serve)).replace("tolvak serve: ", "");

  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 900, height: 420 },
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  const page = context.pages()[0] || (await context.newPage());
  await page.goto(url);

  // Watch the display as the truck drives on: distinct weights, rising past a tonne.
  const seen = new Set();
  const deadline = Date.now() + 40000;
  let weight = 0;
  while (Date.now() < deadline && !(seen.size >= 5 && weight > 10000)) {
    const text = await page.getAttribute("#display", "data-weight");
    if (text && text !== "8888888") {
      seen.add(text);
      weight = Number(text);
    }
    await page.waitForTimeout(100);
  }
  if (seen.size < 5 || !(weight > 10000))
    throw new Error("the weight did not change as the truck drove on: " + [...seen].join(" "));
  const port = await page.textContent("#port");
  if (port !== "connected") throw new Error("port shows '" + port + "'");

  // The truck stands: the page says so, and the digits are lit.
  await page.waitForSelector("#mark.stable", { timeout: 30000 });
  const lit = await page.locator("#display .seg.on").count();
  if (lit < 5) throw new Error("only " + lit + " segments lit");
  // Every scale has its panel, named, with its own weight.
  const names = await page.locator("section h2").allTextContents();
  if (names.join() !== "in,demo") throw new Error("the panels are " + names.join());
  const demo = await page.locator("section .display").nth(1).getAttribute("data-weight");
  if (!demo || demo === "8888888") throw new Error("the simulated scale shows no weight");
  if (screenshot) await page.screenshot({ path: screenshot });
  console.log("saw " + seen.size + " weights, standing at " +
              (await page.getAttribute("#display", "data-weight")));
} catch (e) {
  console.error("FAILED: " + (e.stack || e));
  failed = true;
} finally {
  if (context) await context.close();
  for (const child of children) child.kill("SIGTERM");
  rmSync(profile, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
