// Peers of the browser tests: the real service in a temporary working directory, the
// network-server double as a process of its own, and the browser.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const { chromium } = require('playwright-core');

// Bound of every wait for the service or the browser, generous for a loaded 2-core machine.
export const WAIT_MS = 20000;

export const WEB_LOGIN = 'operator';
export const WEB_PASSWORD = 'hall-7';

// A thermometer whose uplinks of packet type 01 carry the raw temperature in bytes 1-2.
export const APP_EUI = '0102030405060708';
const TEMPLATE = {
    app_eui: APP_EUI,
    dev_type: 'Thermometer',
    device_packets: [{
        packet_type: 1,
        packet_size: 3,
        packet_fields: [{
            packet_bias: 1, data_bit_bias: 0, data_bit_size: 16, data_type: 'uinteger',
            endianness: 'be', reg_map_bias: 0, reg_bit_bias: 0, reg_bit_size: 16,
            data_name: 'Temperature'
        }]
    }]
};

// An uplink of the thermometer with the raw temperature value.
export function temperatureUplink(devEui, raw) {
    const data = '01' + raw.toString(16).padStart(4, '0');
    return { devEui, type: 'UNCONF_UP', data, rssi: -70 };
}

export async function freePort() {
    const server = net.createServer();
    server.listen(0, '127.0.0.1');
    await once(server, 'listening');
    const { port } = server.address();
    server.close();
    await once(server, 'close');
    return port;
}

// The network-server double: answers get_devices with the given list, pushes uplinks.
export class NetworkServer {
    static async start(devices) {
        const child = spawn(process.env.FAKE_NETWORK_SERVER, [], {
            stdio: ['pipe', 'pipe', 'inherit']
        });
        const lines = readline.createInterface({ input: child.stdout })[Symbol.asyncIterator]();
        const first = (await lines.next()).value || '';
        if (!first.startsWith('url ')) {
            child.kill();
            throw new Error('the network-server double did not start: ' + first);
        }
        const server = Object.assign(new NetworkServer(),
                                     { process: child, lines, url: first.slice(4) });
        await server.command('devices', devices);
        return server;
    }

    async command(name, argument) {
        this.process.stdin.write(name + ' ' + JSON.stringify(argument) + '\n');
        const answer = (await this.lines.next()).value;
        if (answer !== 'ok') {
            throw new Error('the network-server double refused ' + name + ': ' + answer);
        }
    }

    pushUplink(record) {
        return this.command('rx', record);
    }

    async stop() {
        this.process.stdin.end();
        if (this.process.exitCode === null) {
            await once(this.process, 'exit');
        }
    }
}

// The real service in a temporary working directory with the thermometer template, a web
// account and no network server in its settings.
export class Gateway {
    static async start() {
        const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tarvex-pages-'));
        fs.mkdirSync(path.join(dir, 'deviceFolder'));
        fs.writeFileSync(path.join(dir, 'deviceFolder', 'thermometer.json'),
                         JSON.stringify(TEMPLATE));
        const port = await freePort();
        fs.writeFileSync(path.join(dir, 'settings.conf'),
                         `[webui]\nip=127.0.0.1\nport=${port}\nlogin=${WEB_LOGIN}\n`
                         + `password=${WEB_PASSWORD}\n`);
        const console = fs.openSync(path.join(dir, 'console.txt'), 'w');
        const child = spawn(process.env.TARVEX_BINARY, [], {
            cwd: dir, stdio: ['ignore', console, console]
        });
        const gateway = Object.assign(new Gateway(),
                                      { process: child, dir, url: `http://127.0.0.1:${port}/` });
        try {
            await eventually(async () => assert.ok((await fetch(gateway.url)).ok),
                             'the web server answers');
        } catch (error) {
            await gateway.stop();
            throw error;
        }
        return gateway;
    }

    async stop() {
        if (this.process.exitCode === null) {
            this.process.kill('SIGTERM');
            await once(this.process, 'exit');
        }
        fs.rmSync(this.dir, { recursive: true, force: true });
    }
}

// Repeats a check until it passes or the bound has passed; then fails with its last error.
export async function eventually(check, what, timeoutMs = WAIT_MS) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
        try {
            return await check();
        } catch (error) {
            if (Date.now() > deadline) {
                error.message = `${what}: ${error.message}`;
                throw error;
            }
        }
        await new Promise((resolve) => setTimeout(resolve, 100));
    }
}

// Headless Chromium of the system; playwright gives every launch a fresh profile directory.
export function launchBrowser() {
    return chromium.launch({
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        headless: true,
        args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking']
    });
}

// Records what goes wrong on a page: console errors, script errors, failed requests and
// answers with an error status; requests cut off by leaving the page are not failures. Records
// the text of every dialog too, and dismisses it unless acceptDialogs is set.
export function watchPage(page) {
    const watcher = { problems: [], dialogs: [], acceptDialogs: false };
    page.on('console', (message) => {
        if (message.type() === 'error') {
            watcher.problems.push('console: ' + message.text());
        }
    });
    page.on('pageerror', (error) => watcher.problems.push('script: ' + error.message));
    page.on('requestfailed', (request) => {
        const reason = request.failure()?.errorText || '';
        if (reason !== 'net::ERR_ABORTED') {
            watcher.problems.push(`failed: ${request.url()} ${reason}`);
        }
    });
    page.on('response', (response) => {
        if (response.status() >= 400) {
            watcher.problems.push(`status ${response.status()}: ${response.url()}`);
        }
    });
    page.on('dialog', (dialog) => {
        watcher.dialogs.push(dialog.message());
        return watcher.acceptDialogs ? dialog.accept() : dialog.dismiss();
    });
    return watcher;
}

export function screenshotPath(name) {
    const dir = process.env.SCREENSHOT_DIR || path.join(os.tmpdir(), 'tarvex-screenshots');
    fs.mkdirSync(dir, { recursive: true });
    return path.join(dir, name + '.png');
}
