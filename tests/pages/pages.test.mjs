// The browser pages in headless Chromium against the real service and the network-server
// double: logging in, connecting, adding, watching, editing and removing devices.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import {
    Gateway, NetworkServer, WAIT_MS, WEB_LOGIN, WEB_PASSWORD, APP_EUI, eventually, freePort,
    launchBrowser, screenshotPath, temperatureUplink, watchPage
} from './support.mjs';

const HALL = { devEui: 'A1B2C3D4E5F60718', name: 'Thermometer in hall' };
const YARD = { devEui: 'A1B2C3D4E5F60719', name: 'Thermometer in yard' };
const MARKUP_NAME = '<img src=x onerror=alert(1)>';
const MARKUP = { devEui: 'A1B2C3D4E5F6071A', name: MARKUP_NAME };

// A service, a network server listing the given devices and a logged-out page of a browser of
// its own; all of them end with the test.
async function setUp(t, devices) {
    const networkServer = await NetworkServer.start(
        devices.map((device) => ({ devEui: device.devEui, devName: device.name,
                                  OTAA: { appEui: APP_EUI } })));
    t.after(() => networkServer.stop());
    const gateway = await Gateway.start();
    t.after(() => gateway.stop());
    const browser = await launchBrowser();
    t.after(() => browser.close());
    const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
    page.setDefaultTimeout(WAIT_MS);
    return { networkServer, gateway, page, watcher: watchPage(page) };
}

async function logIn(page, password = WEB_PASSWORD) {
    await page.fill('#username', WEB_LOGIN);
    await page.fill('#password', password);
    await page.click('#loginform button[type="submit"]');
}

// Connects through the form of the main page; the page shows the service logged in to the
// network server at its next state poll, within 10 s.
async function connect(page, networkServer) {
    await page.fill('#serv_addr', networkServer.url);
    await page.fill('#serv_login', 'gateway');
    await page.fill('#serv_pw', 'secret');
    await page.click('#serverform button[type="submit"]');
    await waitForText(page, '#server_status', 'Подключен');
}

// Registers a thermometer through the API: Temperature at the start register.
async function addThermometer(page, gateway, device, port, startAddr) {
    const registers = [
        { data_name: 'Temperature', source: 1, reg_map_bias: 0, reg_bit_size: 16,
          data_type: 'uinteger', addition: 0, multiplication: 1, units: '°C' }
    ];
    const response = await page.request.post(gateway.url + 'api/v1/app/addDevice', { data: {
        port, startAddr, devEui: device.devEui, app_eui: APP_EUI, dev_type: device.name,
        devRegisters: registers
    } });
    assert.equal((await response.json()).result, true);
}

async function waitForText(page, selector, text) {
    await page.waitForFunction(([selector, text]) => {
        const element = document.querySelector(selector);
        return element !== null && element.textContent === text;
    }, [selector, text], { timeout: WAIT_MS });
}

function deviceRow(page, device) {
    return page.locator('#devices tbody tr', { hasText: device.devEui });
}

// Shows the device's register boxes on the main page.
async function selectDevice(page, device) {
    await deviceRow(page, device).click();
    await page.locator('#register_boxes .box').first().waitFor();
}

async function waitForTemperature(page, value) {
    await page.waitForFunction((value) => document.querySelector(
        '#register_boxes .box__value').textContent === value, value);
}

// Opens the add-device page from the main page, waits for the network server's devices and
// chooses the device. The service waits 2 s for the network server's list; on a loaded machine
// the answer may come too late, and the list is asked for again as the operator would.
async function chooseListedDevice(page, device) {
    await page.click('a[href="adddevice.html"]');
    await eventually(async () => {
        await page.waitForFunction(() => document.querySelector('#server_devices tbody tr')
                                         || !document.querySelector('#reload_list').hidden);
        if (await page.isVisible('#reload_list')) {
            await page.click('#reload_list');
            throw new Error('the list did not come');
        }
    }, 'the add-device page lists the network server\'s devices');
    await page.locator('#server_devices tbody tr', { hasText: device.devEui }).click();
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

// A device name made of markup is shown as text and runs nothing, neither on the list of the
// add-device page nor on the main page.
test('an operator logs in, connects, adds, edits and removes devices, and logs out',
     async (t) => {
    const { networkServer, gateway, page, watcher } = await setUp(t, [HALL, MARKUP]);
    await page.goto(gateway.url);
    await logIn(page, 'wrong');
    await waitForText(page, '#error_msg', 'Неправильный логин или пароль!');
    assert.equal(await page.inputValue('#password'), '', 'the password field is cleared');
    await screenshots(page, 'login');
    await logIn(page);
    await waitForText(page, '#server_status', 'Отключен');

    const modbusPort = await freePort();
    await addThermometer(page, gateway, YARD, modbusPort, 40);
    await connect(page, networkServer);

    await chooseListedDevice(page, HALL);
    assert.equal(await page.locator('#server_devices tr', { hasText: MARKUP.devEui })
        .locator('td').first().textContent(), MARKUP_NAME);
    assert.equal(await page.locator('#server_devices img').count(), 0);
    await choosePort(page, modbusPort);
    // The yard thermometer holds register 40.
    assert.equal(await page.inputValue('#startAddr'), '41');
    await page.click('#deviceform button[type="submit"]');
    await waitForText(page, '#notice', 'Устройство успешно добавлено!');
    await deviceRow(page, HALL).waitFor();
    assert.deepEqual(await deviceRow(page, HALL).locator('td').allTextContents(),
                     [HALL.name, 'Thermometer', HALL.devEui, String(modbusPort), '41']);
    await selectDevice(page, HALL);
    await networkServer.pushUplink(temperatureUplink(HALL.devEui, 215));
    await waitForTemperature(page, '215');
    await screenshots(page, 'main');

    await selectDevice(page, YARD);
    await page.click('#edit');
    await page.locator('#edit_registers tbody tr').first().waitFor();
    await page.fill('#startAddr', '41'); // the hall thermometer's register
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
                     [YARD.name, 'Thermometer', YARD.devEui, String(modbusPort), '40']);

    await selectDevice(page, HALL);
    await page.click('#edit');
    await page.locator('#edit_registers tbody tr').first().waitFor();
    await page.fill('#edit_registers tbody tr:first-child .scaling-multiplication', '2');
    await page.click('#deviceform button[type="submit"]');
    await waitForText(page, '#notice', 'Устройство успешно изменено!');
    await selectDevice(page, HALL);
    await networkServer.pushUplink(temperatureUplink(HALL.devEui, 215));
    await waitForTemperature(page, '430');

    await addThermometer(page, gateway, MARKUP, await freePort(), 0);
    await page.reload();
    await selectDevice(page, MARKUP);
    assert.equal(await deviceRow(page, MARKUP).locator('td').first().textContent(), MARKUP_NAME);
    assert.equal(await page.textContent('#registers_title'), MARKUP_NAME);
    assert.equal(await page.locator('main img').count(), 0);
    assert.deepEqual(watcher.dialogs, [], 'no dialog opens');
    await selectDevice(page, HALL);

    watcher.acceptDialogs = true;
    await page.click('#remove');
    await waitForText(page, '#notice', 'Устройство успешно удалено!');
    await deviceRow(page, HALL).waitFor({ state: 'detached' });
    assert.deepEqual(watcher.dialogs,
                     [`Вы действительно хотите удалить устройство «${HALL.name}»?`]);
    await page.click('#logout');
    await page.locator('#loginform').waitFor();
    await page.reload();
    await page.locator('#loginform').waitFor();
    assert.deepEqual(watcher.problems, [], 'no console errors and no failed requests');
});
