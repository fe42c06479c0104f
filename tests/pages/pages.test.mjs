// The browser pages in headless Chromium against the real service and the network-server
// double: logging in, connecting, adding, watching, editing and removing devices.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';

import {
    Gateway, NetworkServer, WAIT_MS, WEB_LOGIN, WEB_PASSWORD, APP_EUI, eventually, freePort,
    launchBrowser, listedDevice, readHoldingRegister, screenshotPath, temperatureUplink,
    watchPage
} from './support.mjs';

const HALL = { devEui: 'A1B2C3D4E5F60718', name: 'Thermometer in hall' };
const YARD = { devEui: 'A1B2C3D4E5F60719', name: 'Thermometer in yard' };
const MARKUP_NAME = '<img src=x onerror=alert(1)>';
const MARKUP = { devEui: 'A1B2C3D4E5F6071A', name: MARKUP_NAME };
// A device of a kind no template describes.
const UNKNOWN = { devEui: '0000000000000001', name: 'Unknown kind', appEui: 'FFFFFFFFFFFFFFFF' };

let browser;

before(async () => {
    browser = await launchBrowser();
});

after(async () => {
    await browser.close();
});

// A service, a network server listing the given devices and a logged-out browser page; all of
// them end with the test, which fails if the page reported a problem.
async function setUp(t, devices = [HALL, YARD, UNKNOWN]) {
    const networkServer = await NetworkServer.start(
        devices.map((device) => listedDevice(device.devEui, device.name, device.appEui)));
    t.after(() => networkServer.stop());
    const gateway = await Gateway.start();
    t.after(() => gateway.stop());
    const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
    t.after(() => context.close());
    context.setDefaultTimeout(WAIT_MS);
    const page = await context.newPage();
    const watcher = watchPage(page);
    return { networkServer, gateway, page, watcher };
}

// As setUp, with the page logged in and the service connected to the network server.
async function setUpConnected(t, devices) {
    const peers = await setUp(t, devices);
    await logIn(peers.page, peers.gateway);
    await connect(peers.page, peers.gateway, peers.networkServer);
    return peers;
}

function assertNoProblems(watcher) {
    assert.deepEqual(watcher.problems, [], 'no console errors and no failed requests');
}

async function logIn(page, gateway) {
    await page.goto(gateway.url);
    await page.fill('#username', WEB_LOGIN);
    await page.fill('#password', WEB_PASSWORD);
    await page.click('#loginform button[type="submit"]');
    await page.locator('#server_status').waitFor();
}

// A POST to the API in the page's session, as the pages send it.
async function api(page, gateway, path, body = {}) {
    const response = await page.request.post(gateway.url + 'api/v1/' + path, { data: body });
    assert.equal(response.status(), 200, path);
    const text = await response.text();
    return text === '' ? {} : JSON.parse(text);
}

// Connects through the form of the main page and waits for the service to be logged in to
// the network server (the page itself shows it at its next state poll, within 10 s).
async function connect(page, gateway, networkServer) {
    await page.fill('#serv_addr', networkServer.url);
    await page.fill('#serv_login', 'gateway');
    await page.fill('#serv_pw', 'secret');
    await page.click('#serverform button[type="submit"]');
    await eventually(async () => {
        const state = await api(page, gateway, 'server/reqServerState');
        assert.equal(state.status, 'ONLINE');
    }, 'the service logs in to the network server');
}

// Registers a thermometer through the API: Temperature at the start register, RSSI after it.
async function addThermometer(page, gateway, device, port, startAddr, multiplication = 1) {
    const registers = [
        { data_name: 'Temperature', source: 1, reg_map_bias: 0, reg_bit_size: 16,
          data_type: 'uinteger', addition: 0, multiplication, units: '°C' },
        { data_name: 'RSSI', source: 0, reg_map_bias: 1, reg_bit_size: 16,
          data_type: 'integer', addition: 0, multiplication: 1, units: 'dBm' }
    ];
    const answer = await api(page, gateway, 'app/addDevice', {
        port, startAddr, devEui: device.devEui, app_eui: APP_EUI, dev_type: device.name,
        devRegisters: registers
    });
    assert.equal(answer.error, undefined);
}

async function waitForText(page, selector, text) {
    await page.waitForFunction(([selector, text]) => {
        const element = document.querySelector(selector);
        return element !== null && element.textContent === text;
    }, [selector, text], { timeout: WAIT_MS });
}

function cellTexts(page, tableSelector) {
    return page.$$eval(tableSelector + ' tbody tr:not([hidden])', (rows) => rows.map(
        (row) => Array.from(row.cells, (cell) => cell.textContent)));
}

function deviceRow(page, device) {
    return page.locator('#devices tbody tr', { hasText: device.devEui });
}

// Shows the device's register boxes on the main page.
async function selectDevice(page, device) {
    await deviceRow(page, device).click();
    await page.locator('#register_boxes .box').first().waitFor();
}

// The value shown in the first register box (Temperature).
function shownTemperature(page) {
    return page.locator('#register_boxes .box__value').first().textContent();
}

// Opens the add-device page from the main page and waits for the network server's devices.
// The service waits 2 s for the network server's list; on a loaded machine the answer may
// come too late, and the list is asked for again as the operator would.
async function openAddDevicePage(page) {
    await page.click('a[href="adddevice.html"]');
    await eventually(async () => {
        await page.waitForFunction(() => document.querySelector('#server_devices tbody tr')
                                         || !document.querySelector('#reload_list').hidden);
        if (await page.isVisible('#reload_list')) {
            await page.click('#reload_list');
            throw new Error('the list did not come');
        }
    }, 'the add-device page lists the network server\'s devices');
}

// Types the port on the add-device page and leaves the field, as the operator does, then
// waits for the start register the page fetches for it.
async function choosePort(page, port) {
    const answered = page.waitForResponse((response) =>
        response.url().endsWith('/api/v1/app/getLastFreeRegister'));
    await page.fill('#port', String(port));
    await page.press('#port', 'Tab');
    const { register } = await (await answered).json();
    await page.waitForFunction(
        (register) => document.querySelector('#startAddr').value === String(register), register);
}

async function screenshots(page, name) {
    for (const width of [1280, 768]) {
        await page.setViewportSize({ width, height: 900 });
        await page.screenshot({ path: screenshotPath(`${name}-${width}`), fullPage: true });
    }
    await page.setViewportSize({ width: 1280, height: 900 });
}

test('a wrong password is refused and the right one opens the main page', async (t) => {
    const { gateway, page, watcher } = await setUp(t);
    await page.goto(gateway.url);
    assert.equal(await page.evaluate(() => document.activeElement.id), 'username');
    await screenshots(page, 'login');

    await page.fill('#username', WEB_LOGIN);
    await page.fill('#password', 'wrong');
    await page.click('#loginform button[type="submit"]');
    await waitForText(page, '#error_msg', 'Неправильный логин или пароль!');
    assert.equal(await page.inputValue('#password'), '', 'the password field is cleared');

    await page.fill('#password', WEB_PASSWORD);
    await page.click('#loginform button[type="submit"]');
    await page.locator('#server_status').waitFor();
    await waitForText(page, '#server_status', 'Отключен');
    assertNoProblems(watcher);
});

test('connecting turns the connection state to a green Подключен', async (t) => {
    const { networkServer, gateway, page, watcher } = await setUp(t);
    await logIn(page, gateway);
    await waitForText(page, '#server_status', 'Отключен');
    assert.match(await page.getAttribute('#server_status', 'class'), /badge--bad/);

    await connect(page, gateway, networkServer);
    await waitForText(page, '#server_status', 'Подключен');
    assert.match(await page.getAttribute('#server_status', 'class'), /badge--ok/);
    await waitForText(page, '#server_address', networkServer.url);
    await waitForText(page, '#server_login', 'gateway');
    assertNoProblems(watcher);
});

test('the add-device page lists only devices that fit a template', async (t) => {
    const { networkServer, gateway, page, watcher } = await setUpConnected(t);
    await openAddDevicePage(page);

    assert.deepEqual(await cellTexts(page, '#server_devices'), [
        [HALL.name, 'Thermometer', HALL.devEui],
        [YARD.name, 'Thermometer', YARD.devEui]
    ]);
    await page.fill('#search', 'IN YARD;therm');
    assert.deepEqual(await cellTexts(page, '#server_devices'),
                     [[YARD.name, 'Thermometer', YARD.devEui]]);
    assertNoProblems(watcher);
});

test('choosing a device fills its register list from the template', async (t) => {
    const { networkServer, gateway, page, watcher } = await setUpConnected(t);
    await openAddDevicePage(page);
    await page.locator('#server_devices tbody tr', { hasText: HALL.name }).click();

    const rows = await page.$$eval('#new_registers tbody tr', (rows) => rows.map((row) => [
        ...Array.from(row.cells).slice(0, 5).map((cell) => cell.textContent),
        ...Array.from(row.querySelectorAll('input'), (input) => input.value)
    ]));
    // Packet fields first, then the network server's values; scaling starts neutral.
    assert.deepEqual(rows, [
        ['Temperature', 'устройство', '0', '16', 'uinteger', '0', '1', ''],
        ['RSSI', 'сервер', '1', '16', 'integer', '0', '1', '']
    ]);
    await screenshots(page, 'adddevice');
    assertNoProblems(watcher);
});

test('changing the port fetches the next free register of that port', async (t) => {
    const { networkServer, gateway, page, watcher } = await setUp(t);
    await logIn(page, gateway);
    const modbusPort = await freePort();
    await addThermometer(page, gateway, YARD, modbusPort, 40);
    await connect(page, gateway, networkServer);
    await openAddDevicePage(page);
    await page.locator('#server_devices tbody tr', { hasText: HALL.name }).click();

    await choosePort(page, modbusPort);
    // The yard thermometer holds registers 40 and 41.
    assert.equal(await page.inputValue('#startAddr'), '42');
    assertNoProblems(watcher);
});

test('an added device is listed on the main page and its value follows the uplinks',
     async (t) => {
    const { networkServer, gateway, page, watcher } = await setUpConnected(t);
    await openAddDevicePage(page);
    await page.locator('#server_devices tbody tr', { hasText: HALL.name }).click();
    const modbusPort = await freePort();
    await choosePort(page, modbusPort);
    await page.fill('#startAddr', '100');
    await page.fill('#new_registers tbody tr:first-child .scaling-units', '°C');
    await page.click('#deviceform button[type="submit"]');

    await waitForText(page, '#notice', 'Устройство успешно добавлено!');
    await deviceRow(page, HALL).waitFor();
    assert.deepEqual(await cellTexts(page, '#devices'),
                     [[HALL.name, 'Thermometer', HALL.devEui, String(modbusPort), '100']]);
    await selectDevice(page, HALL);
    assert.equal(await shownTemperature(page), '-');
    assert.equal(await page.locator('.box__range-value').first().textContent(), '100');

    await networkServer.pushUplink(temperatureUplink(HALL.devEui, 215));
    const pushed = Date.now();
    await page.waitForFunction(
        () => document.querySelector('#register_boxes .box__value').textContent === '215');
    t.diagnostic(`value shown ${Date.now() - pushed} ms after the uplink`);
    assert.equal(await page.locator('.box__units').first().textContent(), '°C');
    assert.notEqual(await page.locator('.box__time-value').first().textContent(), 'никогда');
    await screenshots(page, 'main');
    assertNoProblems(watcher);
});

test('a device name made of markup is shown as text and runs nothing', async (t) => {
    const { networkServer, gateway, page, watcher } = await setUpConnected(t, [MARKUP]);
    await openAddDevicePage(page);
    const row = page.locator('#server_devices tbody tr').first();
    assert.equal(await row.locator('td').first().textContent(), MARKUP_NAME);
    assert.equal(await page.locator('#server_devices img').count(), 0);

    await row.click();
    await choosePort(page, await freePort());
    await page.click('#deviceform button[type="submit"]');
    await waitForText(page, '#notice', 'Устройство успешно добавлено!');
    await selectDevice(page, MARKUP);
    assert.equal(await deviceRow(page, MARKUP).locator('td').first().textContent(), MARKUP_NAME);
    assert.equal(await page.textContent('#registers_title'), MARKUP_NAME);
    assert.equal(await page.locator('main img').count(), 0);
    assert.deepEqual(watcher.dialogs, [], 'no dialog opens');
    assertNoProblems(watcher);
});

test('editing the multiplication changes the value shown after the next uplink', async (t) => {
    const { networkServer, gateway, page, watcher } = await setUpConnected(t);
    await addThermometer(page, gateway, HALL, await freePort(), 0);
    await page.reload();
    await selectDevice(page, HALL);
    await networkServer.pushUplink(temperatureUplink(HALL.devEui, 215));
    await page.waitForFunction(
        () => document.querySelector('#register_boxes .box__value').textContent === '215');

    await page.click('#edit');
    await page.locator('#edit_registers tbody tr').first().waitFor();
    await page.fill('#edit_registers tbody tr:first-child .scaling-multiplication', '2');
    await page.click('#deviceform button[type="submit"]');
    await waitForText(page, '#notice', 'Устройство успешно изменено!');

    await selectDevice(page, HALL);
    await networkServer.pushUplink(temperatureUplink(HALL.devEui, 215));
    await page.waitForFunction(
        () => document.querySelector('#register_boxes .box__value').textContent === '430');
    assertNoProblems(watcher);
});

test('an edit onto another device\'s registers is refused and the old settings stay',
     async (t) => {
    const { networkServer, gateway, page, watcher } = await setUpConnected(t);
    const modbusPort = await freePort();
    await addThermometer(page, gateway, HALL, modbusPort, 0);
    await addThermometer(page, gateway, YARD, modbusPort, 10);
    await page.reload();
    await selectDevice(page, YARD);

    await page.click('#edit');
    await page.locator('#edit_registers tbody tr').first().waitFor();
    await page.fill('#startAddr', '1'); // the hall thermometer's RSSI register
    await page.click('#deviceform button[type="submit"]');
    await page.waitForFunction(() => /восстановлены/.test(
        document.querySelector('#notice').textContent));
    const notice = await page.textContent('#notice');
    assert.match(notice, /^При изменении устройства произошла ошибка: /);
    assert.match(notice, /уже используется другим устройством/);
    await screenshots(page, 'editdevice-refused');

    await page.goto(gateway.url);
    await deviceRow(page, YARD).waitFor();
    assert.deepEqual(await deviceRow(page, YARD).locator('td').allTextContents(),
                     [YARD.name, 'Thermometer', YARD.devEui, String(modbusPort), '10']);
    await networkServer.pushUplink(temperatureUplink(YARD.devEui, 300));
    await eventually(async () => assert.equal(await readHoldingRegister(modbusPort, 10), 300),
                     'the yard thermometer answers at its old register');
    assertNoProblems(watcher);
});

test('removing asks for confirmation and the device disappears', async (t) => {
    const { gateway, page, watcher } = await setUp(t);
    await logIn(page, gateway);
    await addThermometer(page, gateway, HALL, await freePort(), 0);
    await addThermometer(page, gateway, YARD, await freePort(), 0);
    await page.reload();
    await selectDevice(page, HALL);

    watcher.acceptDialogs = true;
    await page.click('#remove');
    await waitForText(page, '#notice', 'Устройство успешно удалено!');
    await deviceRow(page, HALL).waitFor({ state: 'detached' });
    assert.deepEqual(watcher.dialogs,
                     [`Вы действительно хотите удалить устройство «${HALL.name}»?`]);
    assert.deepEqual((await cellTexts(page, '#devices')).map((row) => row[2]), [YARD.devEui]);
    assert.equal(await page.isHidden('#registers'), true);
    assertNoProblems(watcher);
});

test('a configured device of a kind without a template is not listed', async (t) => {
    const { gateway, page, watcher } = await setUp(t);
    await logIn(page, gateway);
    await addThermometer(page, gateway, HALL, await freePort(), 0);
    const answer = await api(page, gateway, 'app/addDevice', {
        port: await freePort(), startAddr: 0, devEui: UNKNOWN.devEui, app_eui: UNKNOWN.appEui,
        dev_type: UNKNOWN.name,
        devRegisters: [{ data_name: 'Raw', source: 1, reg_map_bias: 0, reg_bit_size: 16,
                         data_type: 'uinteger', addition: 0, multiplication: 1, units: '' }]
    });
    assert.equal(answer.result, true);
    await page.reload();
    await deviceRow(page, HALL).waitFor();

    assert.deepEqual((await cellTexts(page, '#devices')).map((row) => row[2]), [HALL.devEui]);
    assertNoProblems(watcher);
});

test('the information icon shows the version and the build', async (t) => {
    const { gateway, page, watcher } = await setUp(t);
    await logIn(page, gateway);
    await page.click('#about');
    await page.waitForFunction(() => /^Версия приложения: 2\.2\.1, build: .+/.test(
        document.querySelector('#notice').textContent));
    assertNoProblems(watcher);
});

test('logging out returns to the login page', async (t) => {
    const { gateway, page, watcher } = await setUp(t);
    await logIn(page, gateway);
    await page.click('#logout');
    await page.locator('#loginform').waitFor();
    await page.reload();
    await page.locator('#loginform').waitFor();
    assertNoProblems(watcher);
});
